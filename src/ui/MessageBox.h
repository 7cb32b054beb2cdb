#pragma once

#include <QWidget>

class QLabel;

namespace PelkPlus {

// The look of a MessageBox: its background colour, or hidden.
enum class MessageMode : int {
    Hidden = 0,
    Information = 1,
    Warning = 2,
    Error = 3,
};

// An in-window message strip: word-wrapped text on a background whose colour tells what kind of
// message it is. Mode and text are properties so that the state machine can assign them.
class MessageBox : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(MessageBox)
    Q_PROPERTY(int mode MEMBER mode WRITE setMode)
    Q_PROPERTY(QString text READ text WRITE setText)

public:
    explicit MessageBox(QWidget* parent = nullptr);
    ~MessageBox() override;

    // Any value but those of MessageMode's visible modes hides the box; it is stored as given.
    void setMode(int mode);
    int currentMode() const { return mode; }

    QString text() const;
    void setText(const QString& text);

    void showInformation(const QString& text);
    void showWarning(const QString& text);
    void clear();

    // What a screen reader says for the mode's colour: "Information", "Warning" or "Error"; empty
    // for a hidden box.
    static QString modeName(int mode);

private:
    void updateAccessibleTexts();

    int mode = int(MessageMode::Hidden);
    QLabel* label = nullptr;
};

} // namespace PelkPlus
