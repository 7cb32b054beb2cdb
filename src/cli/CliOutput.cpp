#include "cli/CliOutput.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace PelkPlus {

namespace {
constexpr int barWidth = 30;
}

CliOutput::CliOutput(std::FILE* out, bool json, bool quiet, bool terminal)
    : m_out(out)
    , m_json(json)
    , m_quiet(quiet)
    , m_terminal(terminal)
{ }

std::FILE* CliOutput::human() const
{
    return m_json ? stderr : m_out;
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
    if (!m_json)
        write(m_out, text);
}

void CliOutput::object(const QJsonObject& object)
{
    if (m_json)
        write(m_out, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
}

void CliOutput::info(const QString& text)
{
    if (!m_quiet)
        write(human(), text);
}

void CliOutput::prompt(const QString& text)
{
    endProgress();
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), human());
    std::fflush(human());
}

void CliOutput::error(const QString& text)
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
    if (m_quiet)
        return;
    percent = qBound(0, percent, 100);
    if (m_terminal) {
        // A transfer reports every packet; the bar is drawn again only when it changes.
        if (m_barDrawn && label == m_label && percent == m_lastPercent)
            return;
        m_label = label;
        m_lastPercent = percent;
        const QByteArray line = QStringLiteral("\r  %1 %2 %3%")
                                    .arg(label.leftJustified(28), bar(percent, barWidth))
                                    .arg(percent, 3)
                                    .toLocal8Bit();
        std::fwrite(line.constData(), 1, size_t(line.size()), human());
        std::fflush(human());
        m_barDrawn = true;
        return;
    }
    const int tenth = percent / 10;
    if (label == m_label && tenth == m_lastTenth)
        return;
    m_label = label;
    m_lastTenth = tenth;
    const QByteArray line = QStringLiteral("  %1: %2%\n").arg(label).arg(percent).toLocal8Bit();
    std::fwrite(line.constData(), 1, size_t(line.size()), human());
    std::fflush(human());
}

void CliOutput::endProgress()
{
    if (!m_barDrawn)
        return;
    m_barDrawn = false;
    std::fputc('\n', human());
    std::fflush(human());
}

} // namespace PelkPlus
