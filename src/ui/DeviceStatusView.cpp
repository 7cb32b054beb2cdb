#include "ui/DeviceStatusView.h"

#include "device/DeviceInfo.h"
#include "device/DeviceModel.h"
#include "workflow/VersionText.h"

#include <QHBoxLayout>
#include <QLabel>

namespace PelkPlus {

DeviceStatusView::DeviceStatusView(QWidget* parent)
    : QWidget(parent)
    , label(new QLabel(this))
{
    // The label spans the view, so that a text longer than the view is given the height of all
    // its lines; its own alignment centres a state text.
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignHCenter);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(label);
}

DeviceStatusView::~DeviceStatusView() = default;

QString DeviceStatusView::text() const
{
    return label->text();
}

void DeviceStatusView::setText(const QString& text)
{
    label->setText(text);
    // The device's description is a column of names and versions: its lines start together.
    label->setAlignment(text.contains(QLatin1Char('\n')) ? Qt::AlignLeft : Qt::AlignHCenter);
    // The first line says the model and whether it is connected; the rest are the versions, which
    // a screen reader reads as one sentence rather than as a column of white space.
    QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (QString& line : lines)
        line = line.simplified();
    setAccessibleName(lines.isEmpty() ? QString() : lines.takeFirst());
    setAccessibleDescription(lines.join(QStringLiteral(", ")));
}

void DeviceStatusView::setDeviceInfo(const DeviceInfo& info)
{
    setText(describe(info));
}

QString DeviceStatusView::describe(const DeviceInfo& info)
{
    QString modelText;
    if (info.model == Base)
        modelText = QStringLiteral("Pelk");
    else if (info.model == Plus)
        modelText = QStringLiteral("Pelk+");

    QString text = QStringLiteral("%1 Connected\n\n").arg(modelText);
    text += QStringLiteral("MCU:   %1\n").arg(VersionText::ofDevice(info, ComponentType::McuFirmware));
    text += QStringLiteral("DSP:   %1\n").arg(VersionText::ofDevice(info, ComponentType::DspFirmware));
    // The base model has no Styles memory.
    if (info.model == Plus)
        text += QStringLiteral("Styles:   %1\n").arg(VersionText::ofDevice(info, ComponentType::Styles));
    text += QStringLiteral("Ensemble:   %1\n").arg(VersionText::ofDevice(info, ComponentType::EnsembleAudio));
    return text;
}

} // namespace PelkPlus
