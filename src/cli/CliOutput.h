#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

#include <cstdio>

namespace PelkPlus {

// Where the command line writes. Its own standard output is kept apart from the process's (which
// carries the device layer's trace), so that a result or a JSON object is all that reaches it.
// With --json, what a person reads goes to standard error; with --quiet only errors remain.
class CliOutput
{
public:
    // out: the stream results go to. terminal: whether the person's stream is a terminal, which
    // gets a redrawn bar instead of progress lines.
    CliOutput(std::FILE* out, bool json, bool quiet, bool terminal);

    bool json() const { return jsonMode; }
    bool terminal() const { return onTerminal; }

    // The answer of a command, for a person; nothing with --json.
    void result(const QString& text);
    // The answer of a command as one JSON object; only with --json. Kept until close(), so that
    // standard output holds one object whatever follows.
    void object(const QJsonObject& object);
    // A member that close() writes into the JSON object however the command ends, beside the
    // answer or the error; only with --json.
    void member(const QString& key, const QJsonValue& value);
    // What happens meanwhile; nothing with --quiet.
    void info(const QString& text);
    // A question on the person's stream, without a line end; even with --quiet. Whatever is
    // written next begins on a line of its own.
    void prompt(const QString& text);
    // The answer to the prompt was read; echoed: the terminal showed it with its line end, so the
    // line is ended already. Otherwise (standard input closed, or not a terminal) it is ended here.
    void answerRead(bool echoed);
    // Always, on standard error. The first error is the one a script reads, with its kind (a
    // word such as "no-device" or "download"; see errorKindForTitle()).
    void error(const QString& text, const QString& kind = QString());
    // On standard error, but no failure: a warning a person must read.
    void warning(const QString& text);
    // Ends the output: with --json, writes the answer, and on a failure (a non-zero exit code)
    // the first error as {"error":{"kind":...,"message":...}}, beside the answer if there is one.
    void close(int exitCode);

    // The kind of a failure by the title the workflow gives its message ("Download Failure" is
    // "download"); "failure" for a title it does not know.
    static QString errorKindForTitle(const QString& title);
    // What close() writes for a failure without an answer.
    static QJsonObject errorObject(const QString& kind, const QString& message);

    // A bar for the step that label names, at percent (0 to 100), drawn again in place and never
    // wider than the terminal: a label longer than progressLabelWidth() is shortened. Off a
    // terminal, a line whenever the step changes or another quarter is done.
    void progress(const QString& label, int percent);
    // How many columns a bar's label has before it is shortened, at the terminal's width now.
    int progressLabelWidth() const;
    // Ends a bar that is drawn, so the next text starts on a line of its own.
    void endProgress();

    static QString bar(int percent, int width);

private:
    std::FILE* human() const;
    void write(std::FILE* stream, const QString& text);
    void endPrompt();

    std::FILE* resultStream;
    bool jsonMode;
    bool quietMode;
    bool onTerminal;
    bool barDrawn = false;
    bool promptOpen = false;
    bool closed = false;
    std::optional<QJsonObject> answer;
    QJsonObject members;
    QString errorKind;
    QString errorMessage;
    QString barLabel;
    int lastQuarter = -1;
    int lastPercent = -1;
};

} // namespace PelkPlus
