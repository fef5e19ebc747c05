#ifndef ICONBUTTONS_H
#define ICONBUTTONS_H

#include <QImage>
#include <QToolButton>

// Opens the effects dialog.
class EffectSettings : public QToolButton
{
    Q_OBJECT
public:
    explicit EffectSettings(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_icon;
};

// Opens the application settings dialog.
class AppSettings : public QToolButton
{
    Q_OBJECT
public:
    explicit AppSettings(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_icon;
};

#endif
