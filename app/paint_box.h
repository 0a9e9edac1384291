#pragma once

#include <QWidget>

#include <functional>

class QPainter;

namespace wavrell {

/// A plain drawing surface whose owner paints it and handles its mouse
/// through callbacks; `Tag` tells the owner which box it is. Opaque: the
/// owner covers every pixel, so Qt does not clear the background first.
class TPaintBox : public QWidget {
public:
    explicit TPaintBox(QWidget* parent = nullptr);

    int Tag() const { return ftag; }
    void setTag(int tag) { ftag = tag; }

    std::function<void(TPaintBox* sender, QPainter& canvas)> OnPaint;
    /// Button pressed / moved / clicked; x and y in box pixels.
    std::function<void(TPaintBox* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)>
        OnMouseDown;
    std::function<void(TPaintBox* sender, Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, int x, int y)>
        OnMouseMove;
    std::function<void(TPaintBox* sender)> OnClick;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int ftag = 0;
    bool pressedInside = false;
};

}  // namespace wavrell
