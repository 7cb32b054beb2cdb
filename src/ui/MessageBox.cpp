#include "ui/MessageBox.h"

#include <QColor>
#include <QLabel>
#include <QPalette>
#include <QVBoxLayout>

namespace PelkPlus {

namespace {

// Translucent so that the panel behind the strip still shows a little.
QColor backgroundColor(int mode)
{
    switch (MessageMode(mode)) {
    case MessageMode::Information:
        return QColor(200, 230, 255, 230);
    case MessageMode::Warning:
        return QColor(255, 225, 120, 230);
    case MessageMode::Error:
        return QColor(255, 180, 180, 230);
    case MessageMode::Hidden:
        break;
    }
    return QColor();
}

} // namespace

QString MessageBox::modeName(int mode)
{
    switch (MessageMode(mode)) {
    case MessageMode::Information:
        return QStringLiteral("Information");
    case MessageMode::Warning:
        return QStringLiteral("Warning");
    case MessageMode::Error:
        return QStringLiteral("Error");
    case MessageMode::Hidden:
        break;
    }
    return QString();
}

void MessageBox::updateAccessibleTexts()
{
    // The colour tells a sighted user the kind of the message; a screen reader says it instead.
    setAccessibleName(label->text());
    setAccessibleDescription(modeName(mode));
}

MessageBox::MessageBox(QWidget* parent)
    : QWidget(parent)
    , label(new QLabel(this))
{
    label->setWordWrap(true);
    label->setMargin(10);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label);
}

MessageBox::~MessageBox() = default;

void MessageBox::setMode(int mode)
{
    this->mode = mode;
    updateAccessibleTexts();
    const QColor color = backgroundColor(mode);
    if (!color.isValid()) {
        label->setAutoFillBackground(false);
        hide();
        return;
    }
    // The label inherits the box's palette and fills its background with the window brush.
    label->setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setBrush(QPalette::Window, QBrush(color, Qt::SolidPattern));
    setPalette(palette);
    show();
}

QString MessageBox::text() const
{
    return label->text();
}

void MessageBox::setText(const QString& text)
{
    label->setText(text);
    updateAccessibleTexts();
}

void MessageBox::showInformation(const QString& text)
{
    setMode(int(MessageMode::Information));
    setText(text);
}

void MessageBox::showWarning(const QString& text)
{
    setMode(int(MessageMode::Warning));
    setText(text);
}

void MessageBox::clear()
{
    mode = int(MessageMode::Hidden);
    label->setAutoFillBackground(false);
    hide();
    label->clear();
    updateAccessibleTexts();
}

} // namespace PelkPlus
