// The display-scheme chooser shown on a first run.
#pragma once

#include <QPushButton>
#include <QWidget>

#include <array>
#include <functional>

class QGroupBox;
class Label;

// A push button whose caption wraps onto further lines, centred, when it is
// wider than the button; text() and the accessible name stay the caption.
class WrapButton : public QPushButton {
    Q_OBJECT
public:
    explicit WrapButton(const QString& text, QWidget* parent = nullptr);
    // Where the caption is laid out: inside the bevel, kept off it by the
    // style's button margin.
    QRect captionRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

class ColorSheme : public QWidget {
    Q_OBJECT
public:
    explicit ColorSheme(QWidget* parent = nullptr);

    // Answers scheme = button element index + 1, then the chooser closes.
    void Command1_Click(int index);

    std::function<void(int scheme)> onAnswer;
    std::function<void()> onClosed;  // closed by the window system without an answer

    QGroupBox* Frame1 = nullptr;
    Label* Label1 = nullptr;
    Label* Label2 = nullptr;
    Label* Label3 = nullptr;
    std::array<QPushButton*, 2> Command1{};

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool answered_ = false;
};
