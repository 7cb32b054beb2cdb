#include "cli/CliOutput.h"

#include "workflow/UpdateFailure.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace PelkPlus {

namespace {
constexpr int barWidth = 30;
}

CliOutput::CliOutput(std::FILE* out, bool json, bool quiet, bool terminal)
    : resultStream(out)
    , jsonMode(json)
    , quietMode(quiet)
    , onTerminal(terminal)
{ }

std::FILE* CliOutput::human() const
{
    return jsonMode ? stderr : resultStream;
}

void CliOutput::write(std::FILE* stream, const QString& text)
{
    if (stream == human())
        endProgress();
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

void CliOutput::result(const QString& text)
{
    if (!jsonMode)
        write(resultStream, text);
}

void CliOutput::object(const QJsonObject& object)
{
    if (jsonMode)
        answer = object;
}

void CliOutput::member(const QString& key, const QJsonValue& value)
{
    if (jsonMode)
        members.insert(key, value);
}

QJsonObject CliOutput::errorObject(const QString& kind, const QString& message)
{
    return QJsonObject { { QStringLiteral("error"),
        QJsonObject { { QStringLiteral("kind"), kind }, { QStringLiteral("message"), message } } } };
}

QString CliOutput::errorKindForTitle(const QString& title)
{
    static const struct
    {
        const char* title;
        UpdateFailure failure;
    } kinds[] = {
        { "Update Check Failure", UpdateFailure::Check },
        { "Update Bundle", UpdateFailure::Bundle },
        { "Download Failure", UpdateFailure::Download },
        { "Update Failure", UpdateFailure::Install },
        { "Reboot Failure", UpdateFailure::Reboot },
        { "Connection Failure", UpdateFailure::Connection },
        { "Invalid File", UpdateFailure::File },
        { "Update Stopped", UpdateFailure::Stopped },
        { "Update Not Applied", UpdateFailure::NotApplied },
    };
    for (const auto& known : kinds) {
        if (title == QLatin1String(known.title))
            return QLatin1String(updateFailureName(known.failure));
    }
    return QLatin1String(updateFailureName(UpdateFailure::None));
}

void CliOutput::close(int exitCode)
{
    if (closed)
        return;
    closed = true;
    endProgress();
    if (!jsonMode)
        return;
    QJsonObject written = answer.value_or(QJsonObject());
    for (auto it = members.constBegin(); it != members.constEnd(); ++it)
        written.insert(it.key(), it.value());
    if (exitCode != 0) {
        const QString kind = !errorKind.isEmpty() ? errorKind
            : exitCode == 2                       ? QStringLiteral("usage")
            : exitCode == 3                       ? QStringLiteral("busy")
                                                  : QStringLiteral("failure");
        const QString message = !errorMessage.isEmpty() ? errorMessage : QStringLiteral("Failed.");
        written.insert(QStringLiteral("error"), errorObject(kind, message).value(QStringLiteral("error")));
    }
    if (!written.isEmpty())
        write(resultStream, QString::fromUtf8(QJsonDocument(written).toJson(QJsonDocument::Compact)));
}

void CliOutput::info(const QString& text)
{
    if (!quietMode)
        write(human(), text);
}

void CliOutput::prompt(const QString& text)
{
    endProgress();
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), human());
    std::fflush(human());
}

void CliOutput::error(const QString& text, const QString& kind)
{
    if (errorMessage.isEmpty())
        errorMessage = text;
    if (errorKind.isEmpty())
        errorKind = kind;
    endProgress();
    write(stderr, QStringLiteral("pelk-cli: ") + text);
}

void CliOutput::warning(const QString& text)
{
    endProgress();
    write(stderr, QStringLiteral("pelk-cli: ") + text);
}

QString CliOutput::bar(int percent, int width)
{
    const int filled = qBound(0, percent, 100) * width / 100;
    return QStringLiteral("[") + QString(filled, QLatin1Char('#')) + QString(width - filled, QLatin1Char('.'))
        + QStringLiteral("]");
}

void CliOutput::progress(const QString& label, int percent)
{
    if (quietMode)
        return;
    percent = qBound(0, percent, 100);
    if (onTerminal) {
        // A transfer reports every packet; the bar is drawn again only when it changes.
        if (barDrawn && label == barLabel && percent == lastPercent)
            return;
        barLabel = label;
        lastPercent = percent;
        // Cleared to the end of the line: a longer label drawn before leaves no tail behind.
        const QByteArray line = QStringLiteral("\r  %1 %2 %3%\x1b[K")
                                    .arg(label.leftJustified(28), bar(percent, barWidth))
                                    .arg(percent, 3)
                                    .toLocal8Bit();
        std::fwrite(line.constData(), 1, size_t(line.size()), human());
        std::fflush(human());
        barDrawn = true;
        return;
    }
    const int tenth = percent / 10;
    if (label == barLabel && tenth == lastTenth)
        return;
    barLabel = label;
    lastTenth = tenth;
    const QByteArray line = QStringLiteral("  %1: %2%\n").arg(label).arg(percent).toLocal8Bit();
    std::fwrite(line.constData(), 1, size_t(line.size()), human());
    std::fflush(human());
}

void CliOutput::endProgress()
{
    if (!barDrawn)
        return;
    barDrawn = false;
    std::fputc('\n', human());
    std::fflush(human());
}

} // namespace PelkPlus
