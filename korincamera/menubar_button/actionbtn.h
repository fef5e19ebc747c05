#ifndef ACTIONBTN_H
#define ACTIONBTN_H

#include <QColor>
#include <QToolButton>

// The snapshot/record button: shaped by a mask image, coloured by the
// engine state (blue in preview, red while recording, green while paused).
class ActionBtn : public QToolButton
{
    Q_OBJECT
public:
    explicit ActionBtn(QWidget* parent = nullptr);

public slots:
    void updateColor();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_showColor;
};

#endif
