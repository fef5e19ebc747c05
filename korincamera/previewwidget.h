#ifndef PREVIEWWIDGET_H
#define PREVIEWWIDGET_H

#include <QWidget>

// The surface the recorder engine draws the live video into; painted in the
// colour key so the overlay shows through.
class PreviewWidget : public QWidget
{
    Q_OBJECT
public:
    explicit PreviewWidget(QWidget* parent = nullptr);
    void setBackgroundColor(QColor c);

signals:
    void clicked();
    void sizeChanged(QSize newsize);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
};

#endif
