#pragma once

#include <QWidget>

class QLabel;

namespace PelkPlus {

struct DeviceInfo;

// The text in the black left-hand panel: a short state text, or the description of the connected
// device with the versions of its components.
class DeviceStatusView : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(DeviceStatusView)
    Q_PROPERTY(QString text READ text WRITE setText)

public:
    explicit DeviceStatusView(QWidget* parent = nullptr);
    ~DeviceStatusView() override;

    QString text() const;
    void setText(const QString& text);

    // Replaces the text with the model and the component versions of the device.
    void setDeviceInfo(const DeviceInfo& info);

    // The description setDeviceInfo() shows.
    static QString describe(const DeviceInfo& info);

private:
    QLabel* label = nullptr;
};

} // namespace PelkPlus
