#ifndef KORIN_MEDIAINFOWIDGET_H
#define KORIN_MEDIAINFOWIDGET_H

#include <QPoint>
#include <QString>
#include <QWidget>

#include "playengine.h"

class QHBoxLayout;
class QLabel;
class QScrollArea;

// The keyed, scrollable panel listing what the engine knows about the file.
class MediaInfoWidget : public QWidget
{
    Q_OBJECT
public:
    explicit MediaInfoWidget(QWidget* parent);
    QLabel* infoLabel() const { return m_textLabel; }
    QScrollArea* scrollArea() const { return m_scrollArea; }

    // The panel's text for md; duration and seekable are already worded.
    static QString describe(const korin_metadata& md, const QString& duration, const QString& seekable);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QPoint m_previousPoint;
    QScrollArea* m_scrollArea = nullptr;
    QLabel* m_textLabel = nullptr;
    QHBoxLayout* layout = nullptr;
};

#endif
