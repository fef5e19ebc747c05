#ifndef ICONBUTTONS_H
#define ICONBUTTONS_H

#include <QImage>
#include <QToolButton>

// A borderless square tool button drawn as one picture filling it.
class IconButton : public QToolButton
{
    Q_OBJECT
public:
    IconButton(const QString& icon, int side, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_icon;
};

// Opens the effects dialog.
class EffectSettings : public IconButton
{
    Q_OBJECT
public:
    explicit EffectSettings(QWidget* parent = nullptr)
        : IconButton(QStringLiteral(":/image/effects.png"), 60, parent)
    {
    }
};

// Opens the application settings dialog.
class AppSettings : public IconButton
{
    Q_OBJECT
public:
    explicit AppSettings(QWidget* parent = nullptr)
        : IconButton(QStringLiteral(":/image/settings.png"), 65, parent)
    {
    }
};

#endif
