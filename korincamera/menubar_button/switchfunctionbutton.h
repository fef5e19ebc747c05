#ifndef SWITCHFUNCTIONBUTTON_H
#define SWITCHFUNCTIONBUTTON_H

#include <QImage>
#include <QTimeLine>
#include <QToolButton>

// Toggles between photo and video mode with a one-second flip of its icon:
// the icon narrows to a line, the mode changes at the half-way frame and the
// other mode's icon widens again.
class SwitchFunctionButton : public QToolButton
{
    Q_OBJECT
public:
    explicit SwitchFunctionButton(QWidget* parent = nullptr);

    int getWorkMode();
    void setWorkMode(int mode);
    QImage changeImage();

    QTimeLine m_timeLine; // the menu bar blocks capture while it runs

public slots:
    void changeIcon(int frame);
    void startChangeIcon();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QImage m_videoIcon;
    QImage m_phtotIcon;
    QImage m_imgToShow;
    float a1 = 0, b1 = 0, a2 = 0, b2 = 0;
    bool m_iconChanged = false;
};

#endif
