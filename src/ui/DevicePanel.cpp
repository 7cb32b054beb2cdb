#include "ui/DevicePanel.h"

#include "device/DeviceModel.h"
#include "ui/DeviceStatusView.h"
#include "workflow/NamedState.h"
#include "workflow/UpdateWorkflow.h"
#include "workflow/WorkflowStates.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QState>
#include <QLayout>
#include <QVBoxLayout>

namespace PelkPlus {

namespace {

// The part of a model logo that shows the model's name, and the width it is shown at.
const QRect modelLogoCrop(100, 290, 800, 310);
constexpr int modelLogoWidth = 200;
constexpr int makerLogoWidth = 100;
// The margin the style sheet gives the device's text, and the longest line its description has.
constexpr int statusTextMargin = 10;
const QString widestDescriptionLine = QStringLiteral("MCU:   Production 99.99");
// Dims the maker logo so that it does not compete with the device description.
const QColor makerLogoShade(15, 0, 0, 150);

// Scaled for the screen's pixels rather than the layout's, so that a logo stays sharp where one
// layout pixel is several screen pixels.
QPixmap screenPixmap(const QImage& image, int width)
{
    const qreal ratio = qMax<qreal>(1, qApp->devicePixelRatio());
    QPixmap pixmap = QPixmap::fromImage(image.scaledToWidth(qRound(width * ratio), Qt::SmoothTransformation));
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

QString accessRefusedText()
{
    return QStringLiteral("No access to the device");
}

QPixmap modelLogo(const QString& path)
{
    return screenPixmap(QImage(path).copy(modelLogoCrop), modelLogoWidth);
}

} // namespace

DevicePanel::DevicePanel(UpdateWorkflow* engine, QWidget* parent)
    : QWidget(parent)
    , workflow(engine)
{
    setObjectName(QStringLiteral("statusWidget"));
    // A widget class of its own paints a style sheet's background only when asked to.
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QStringLiteral("#statusWidget { background-color: rgb(0,0,0); }"));

    deviceStatusView = new DeviceStatusView;
    deviceStatusView->setObjectName(QStringLiteral("deviceInfo"));
    deviceStatusView->setStyleSheet(
        QStringLiteral(" #deviceInfo QLabel { color: white; margin: %1 } ").arg(statusTextMargin));
    deviceStatusView->setText(QStringLiteral("No device connected"));

    baseLogoPixmap = modelLogo(QStringLiteral(":/images/pelk_logo_orig.png"));
    plusLogoPixmap = modelLogo(QStringLiteral(":/images/pelk_logo_plus.png"));
    baseLogo = new QLabel;
    baseLogo->setObjectName(QStringLiteral("baseLogo"));
    baseLogo->setPixmap(baseLogoPixmap);
    baseLogo->setAccessibleName(QStringLiteral("Pelk logo"));
    plusLogo = new QLabel;
    plusLogo->setObjectName(QStringLiteral("plusLogo"));
    plusLogo->setPixmap(plusLogoPixmap);
    plusLogo->setAccessibleName(QStringLiteral("Pelk+ logo"));
    // The panel may be wider than the logos when the font is large.
    baseLogo->setAlignment(Qt::AlignHCenter);
    plusLogo->setAlignment(Qt::AlignHCenter);

    QPixmap makerPixmap = screenPixmap(QImage(QStringLiteral(":/images/quellor_logo.png")), makerLogoWidth);
    if (!makerPixmap.isNull()) {
        QPainter painter(&makerPixmap);
        // The painter works in layout pixels on a pixmap with a ratio; fill the whole of it.
        painter.fillRect(QRect(QPoint(0, 0), makerPixmap.size()), makerLogoShade);
    }
    makerLogo = new QLabel;
    makerLogo->setObjectName(QStringLiteral("makerLogo"));
    makerLogo->setAlignment(Qt::AlignHCenter);
    makerLogo->setPixmap(makerPixmap);
    makerLogo->setAccessibleName(QStringLiteral("Quellor logo"));

    // One width for the whole run, whatever the text below the logos says: a longer one ("The
    // device is restarting...") takes another line rather than shifting the page at every reboot.
    // As wide as the logos, or as a line of the device's description in a large font.
    const QMargins viewMargins = deviceStatusView->layout()->contentsMargins();
    const int descriptionWidth
        = QFontMetrics(deviceStatusView->font()).horizontalAdvance(widestDescriptionLine) + viewMargins.left()
        + viewMargins.right() + 2 * statusTextMargin;
    setFixedWidth(qMax(modelLogoWidth, descriptionWidth));

    auto* statusLayout = new QVBoxLayout(this);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    statusLayout->setSpacing(0);
    statusLayout->addWidget(baseLogo);
    statusLayout->addWidget(plusLogo);
    statusLayout->addWidget(deviceStatusView);
    statusLayout->addStretch(1);
    statusLayout->addWidget(makerLogo);
}

DevicePanel::~DevicePanel() = default;

void DevicePanel::addRegion()
{
    // Assignments stay after their state is left, until another state assigns the property again.
    const auto state = [this](const char* name) { return workflow->state(name); };

    // Both logos and a short text until the device is ready, then its description.
    auto* deviceInfoRegion = newState("deviceInfoRegion", workflow->regions());
    auto* infoNoDeviceState = newState("infoNoDeviceState", deviceInfoRegion);
    auto* infoWaitingState = newState("infoWaitingState", deviceInfoRegion);
    auto* infoShownState = newState("infoShownState", deviceInfoRegion);
    auto* infoRestartingState = newState("infoRestartingState", deviceInfoRegion);
    deviceInfoRegion->setInitialState(infoNoDeviceState);

    infoNoDeviceState->assignProperty(baseLogo, "visible", true);
    infoNoDeviceState->assignProperty(plusLogo, "visible", true);
    infoNoDeviceState->assignProperty(deviceStatusView, "text", QStringLiteral("No device connected"));
    infoWaitingState->assignProperty(deviceStatusView, "text", QStringLiteral("Waiting..."));
    // The device being updated is off the bus while it restarts; it is not gone.
    infoRestartingState->assignProperty(
        deviceStatusView, "text", QStringLiteral("The device is restarting..."));

    connect(infoShownState, &QState::entered, this, &DevicePanel::showDevice, Qt::DirectConnection);
    // A node this account may not open is tried again every few seconds, through connecting and
    // back: the panel says what is wrong throughout rather than alternating, until the device
    // opens or leaves the bus (the prompt then asks for one again). Read on entering, before a
    // state counts as active.
    for (QState* retried : { infoNoDeviceState, infoWaitingState }) {
        connect(
            retried, &QState::entered, this,
            [this] {
                // During an update's reboot wait a refused node is a device not back yet.
                if (workflow->deviceAccessDenied() && !workflow->isUpdating())
                    deviceStatusView->setText(accessRefusedText());
            },
            Qt::DirectConnection);
    }
    connect(
        state(WorkflowStates::promptConnectState), &QState::entered, this,
        [this, infoNoDeviceState] {
            if (infoNoDeviceState->active() && !workflow->deviceAccessDenied())
                deviceStatusView->setText(QStringLiteral("No device connected"));
        },
        Qt::DirectConnection);

    infoNoDeviceState->addTransition(
        state(WorkflowStates::connectingState), &QState::entered, infoWaitingState);
    infoWaitingState->addTransition(
        state(WorkflowStates::noDeviceState), &QState::entered, infoNoDeviceState);
    infoWaitingState->addTransition(
        state(WorkflowStates::deviceReadyState), &QState::entered, infoShownState);
    infoShownState->addTransition(state(WorkflowStates::noDeviceState), &QState::entered, infoNoDeviceState);
    infoNoDeviceState->addTransition(
        state(WorkflowStates::awaitRebootState), &QState::entered, infoRestartingState);
    // A restart the link saw first: the device, still listed, was being connected again when the
    // reboot wait began.
    infoWaitingState->addTransition(
        state(WorkflowStates::awaitRebootState), &QState::entered, infoRestartingState);
    infoRestartingState->addTransition(
        state(WorkflowStates::deviceReadyState), &QState::entered, infoShownState);
    infoRestartingState->addTransition(
        state(WorkflowStates::connectingState), &QState::entered, infoWaitingState);
    infoRestartingState->addTransition(
        state(WorkflowStates::awaitRebootState), &QState::exited, infoNoDeviceState);
}

void DevicePanel::showDevice()
{
    if (!workflow->hasDevice())
        return;
    const DeviceInfo info = workflow->deviceInfo();
    deviceStatusView->setDeviceInfo(info);
    if (info.model == Base)
        plusLogo->hide();
    else
        baseLogo->hide();
}

} // namespace PelkPlus
