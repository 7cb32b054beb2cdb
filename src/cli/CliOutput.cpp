#include "cli/CliOutput.h"

#include "cli/StandardStreams.h"
#include "workflow/UpdateFailure.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace PelkPlus {

namespace {

// What a drawn line holds beside its label and its bar: the indent, the spaces between, the
// bar's brackets and "100%".
constexpr int barFrame = 10;

// The bar narrows before the label does, down to ten cells; from 90 columns on it has thirty.
int barWidthFor(int columns)
{
    return qBound(10, columns - 60, 30);
}

// The label cut to width, its end replaced by dots so that a person sees it is cut.
QString shortened(const QString& label, int width)
{
    if (label.size() <= width)
        return label;
    if (width < 4)
        return label.left(qMax(0, width));
    QString cut = label.left(width - 3);
    // At the end of a part, or else of a word, where one is near: "..., 20 % of the update
    // done..." reads, "done, a..." or "abo..." does not.
    const int part = cut.lastIndexOf(QLatin1String(", "));
    const int space = cut.lastIndexOf(QLatin1Char(' '));
    if (part > width / 2)
        cut.truncate(part);
    else if (space > width / 2)
        cut.truncate(space);
    return cut + QStringLiteral("...");
}

} // namespace

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
    endPrompt();
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
    promptOpen = true;
}

void CliOutput::answerRead(bool echoed)
{
    if (echoed)
        promptOpen = false;
    else
        endPrompt();
}

void CliOutput::endPrompt()
{
    if (!promptOpen)
        return;
    promptOpen = false;
    std::fputc('\n', human());
    std::fflush(human());
}

void CliOutput::error(const QString& text, const QString& kind)
{
    if (errorMessage.isEmpty())
        errorMessage = text;
    if (errorKind.isEmpty())
        errorKind = kind;
    endProgress();
    endPrompt();
    write(stderr, QStringLiteral("pelk-cli: ") + text);
}

void CliOutput::warning(const QString& text)
{
    endProgress();
    endPrompt();
    write(stderr, QStringLiteral("pelk-cli: ") + text);
}

QString CliOutput::bar(int percent, int width)
{
    const int filled = qBound(0, percent, 100) * width / 100;
    return QStringLiteral("[") + QString(filled, QLatin1Char('#')) + QString(width - filled, QLatin1Char('.'))
        + QStringLiteral("]");
}

int CliOutput::progressLabelWidth() const
{
    const int columns = StandardStreams::columns(human());
    // One column is left free: a line as wide as the terminal would wrap where some terminals
    // then draw the next bar.
    return qMax(0, columns - 1 - barFrame - barWidthFor(columns));
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
        const int columns = StandardStreams::columns(human());
        const int labelWidth = progressLabelWidth();
        QString line = QStringLiteral("  %1 %2 %3%")
                           .arg(shortened(label, labelWidth).leftJustified(qMin(28, labelWidth)),
                               bar(percent, barWidthFor(columns)))
                           .arg(percent, 3);
        // A terminal narrower than the bar itself still gets no line that wraps.
        line.truncate(qMax(0, columns - 1));
        // Cleared to the end of the line: a longer label drawn before leaves no tail behind.
        const QByteArray bytes = (QLatin1Char('\r') + line + QStringLiteral("\x1b[K")).toLocal8Bit();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), human());
        std::fflush(human());
        barDrawn = true;
        return;
    }
    // Off a terminal (a log, a pipe) a step's first line and each quarter done, its end among them.
    const int quarter = percent / 25;
    if (label == barLabel && quarter == lastQuarter)
        return;
    barLabel = label;
    lastQuarter = quarter;
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
