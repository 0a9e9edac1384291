#pragma once

#include <QWidget>

#include <functional>

namespace wavrell {

/// A container whose children are placed by its owner on every size change
/// (`OnResize`), as the window's own layout code does.
class TPanel : public QWidget {
public:
    explicit TPanel(QWidget* parent = nullptr) : QWidget(parent) {}
    std::function<void()> OnResize;

protected:
    void resizeEvent(QResizeEvent*) override {
        if (OnResize) OnResize();
    }
};

}  // namespace wavrell
