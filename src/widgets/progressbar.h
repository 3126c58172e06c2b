#pragma once

#include <QWidget>

// The thin bar above the status strip on which the hexadecimal file view marks its progress.
// Its horizontal scale is set to the file's length, its vertical scale is 13.5 units high.
class ProgressBar : public QWidget
{
    Q_OBJECT

public:
    explicit ProgressBar(QWidget *parent = nullptr);

    void setScaleWidth(double width);
    double scaleWidth() const { return m_scaleWidth; }
    // Marks the bar from its left edge to x units, 10 units down from the top.
    void drawMark(double x);
    // Erases the mark.
    void clear();
    double markedUnits() const { return m_mark; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double m_scaleWidth = 1.0;
    double m_mark = 0.0;
    int m_paintedPixels = 0;
};
