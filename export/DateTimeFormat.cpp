#include "export/DateTimeFormat.h"

#include <algorithm>

namespace korvane {

namespace {

// One step of a Qt date-time format: a run of one character (a letter names a field), or text
// between single quotes, where '' stands for a quote (and '' outside quotes for one too).
struct FormatToken {
    bool quoted = false;
    QChar letter;               // the run's character
    qsizetype count = 0;        // the run's length
    QString raw;                // the token as it stands in the format
    QString literal;            // quoted: the text it stands for
    bool closed = true;         // quoted: the closing quote was found
};

// The one walker of formats: every reading and rewriting of a format below goes through it.
std::vector<FormatToken> FormatTokens(const QString& format)
{
    std::vector<FormatToken> tokens;
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format.at(i);
        FormatToken token;
        qsizetype end = i + 1;
        if (c == u'\'') {
            token.quoted = true;
            token.closed = false;
            while (end < format.size()) {
                if (format.at(end) == u'\'') {
                    if (end + 1 < format.size() && format.at(end + 1) == u'\'') {
                        token.literal += u'\'';
                        end += 2;
                        continue;
                    }
                    token.closed = true;
                    ++end;
                    break;
                }
                token.literal += format.at(end++);
            }
            if (end == i + 2 && token.closed)
                token.literal = QStringLiteral("'");   // '' alone: a quote
        } else {
            while (end < format.size() && format.at(end) == c)
                ++end;
            token.letter = c;
            token.count = end - i;
        }
        token.raw = format.mid(i, end - i);
        tokens.push_back(std::move(token));
        i = end;
    }
    return tokens;
}

// `format` with its quoted text untouched and every run handed to `run`, which appends what
// the run becomes.
template<typename Run>
QString RewriteFormat(const QString& format, Run run)
{
    QString out;
    for (const FormatToken& token : FormatTokens(format)) {
        if (token.quoted)
            out += token.raw;
        else
            run(out, token.letter, token.count);
    }
    return out;
}

bool HasLetter(const QString& format, QChar letter)
{
    const std::vector<FormatToken> tokens = FormatTokens(format);
    return std::any_of(tokens.begin(), tokens.end(),
                       [&](const FormatToken& token) { return !token.quoted && token.letter == letter; });
}

// The short date of `locale` with a four-digit year: CLDR gives two digits in many locales
// whose operators set four in their regional settings.
QString DateFormat(const QLocale& locale)
{
    return RewriteFormat(locale.dateFormat(QLocale::ShortFormat), [](QString& out, QChar c, qsizetype count) {
        if (c == u'y')
            out += QStringLiteral("yyyy");
        else
            out += QString(count, c);
    });
}

QString TimeFormat(const QLocale& locale)
{
    QString format = RewriteFormat(locale.timeFormat(QLocale::LongFormat), [](QString& out, QChar c, qsizetype count) {
        if (c == u't') {
            while (!out.isEmpty() && out.back().isSpace())
                out.chop(1);
        } else if (!(out.isEmpty() && c.isSpace())) {
            out += QString(count, c);
        }
    });
    format = format.trimmed();
    if (!HasLetter(format, u's')) {
        bool inserted = false;
        const QString withSeconds = RewriteFormat(format, [&](QString& out, QChar c, qsizetype count) {
            out += QString(count, c);
            if (c == u'm' && !inserted) {
                out += QStringLiteral(":ss");
                inserted = true;
            }
        });
        format = inserted ? withSeconds : format + QStringLiteral(":ss");
    }
    return format;
}

bool IsAmPmLetter(const FormatToken& token)
{
    return !token.quoted && (token.letter == u'P' || token.letter == u'p');
}

} // namespace

// A time format cut into pieces whose text depends on one field each, following Qt's format
// letters: h and hh the hour (1 to 12 when the format shows AM/PM), H and HH the hour 0 to 23,
// m and mm the minute, s and ss the second, A or a (alone or with P or p after it) the AM/PM
// text; quoted text as it stands, '' a quote. Each field's texts are the locale's own, asked for once per value.
// Nothing for a format with any other letter, or a letter run Qt would read as two.
std::optional<std::vector<DateTimeFormat::TimePiece>> DateTimeFormat::TimePieces(const QString& format,
                                                                               const QLocale& locale)
{
    using Field = TimePiece::Field;
    struct Token {
        Field field = Field::None;
        QString text;   // the letters, or the literal text
        bool twelveHour = false;
    };
    std::vector<Token> tokens;
    bool showsAmPm = false;
    const auto literal = [&](const QString& text) {
        if (!tokens.empty() && tokens.back().field == Field::None)
            tokens.back().text += text;
        else
            tokens.push_back({Field::None, text});
    };
    const std::vector<FormatToken> formatTokens = FormatTokens(format);
    for (std::size_t i = 0; i < formatTokens.size(); ++i) {
        const FormatToken& token = formatTokens[i];
        if (token.quoted) {
            if (!token.closed)
                return std::nullopt;
            literal(token.literal);
            continue;
        }
        const char16_t c = token.letter.unicode();
        switch (c) {
        case u'h':
        case u'H':
        case u'm':
        case u's':
            if (token.count > 2)
                return std::nullopt;
            tokens.push_back({c == u'm' ? Field::Minute : c == u's' ? Field::Second : Field::Hour, token.raw, c == u'h'});
            continue;
        case u'A':
        case u'a': {
            if (token.count > 1)
                return std::nullopt;
            QString letters = token.raw;
            if (i + 1 < formatTokens.size() && IsAmPmLetter(formatTokens[i + 1])) {
                // "AP" is one field; a third letter of the two would be read as another.
                if (formatTokens[i + 1].count > 1 || (i + 2 < formatTokens.size() && IsAmPmLetter(formatTokens[i + 2])))
                    return std::nullopt;
                letters += formatTokens[++i].raw;
            }
            tokens.push_back({Field::Hour, letters});
            showsAmPm = true;
            continue;
        }
        default:
            if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'))
                return std::nullopt;
            literal(token.raw);
            continue;
        }
    }

    std::vector<TimePiece> pieces;
    for (const Token& token : tokens) {
        TimePiece piece{token.field, {}};
        switch (token.field) {
        case Field::None:
            piece.texts.push_back(token.text);
            break;
        case Field::Hour:
            for (int hour = 0; hour < 24; ++hour) {
                // The 12-hour figure is the 24-hour figure of the hour it names.
                const int shown = token.twelveHour && showsAmPm ? (hour % 12 == 0 ? 12 : hour % 12) : hour;
                piece.texts.push_back(locale.toString(QTime(shown, 0), token.text));
            }
            break;
        case Field::Minute:
            for (int minute = 0; minute < 60; ++minute)
                piece.texts.push_back(locale.toString(QTime(0, minute), token.text));
            break;
        case Field::Second:
            for (int second = 0; second < 60; ++second)
                piece.texts.push_back(locale.toString(QTime(0, 0, second), token.text));
            break;
        }
        pieces.push_back(std::move(piece));
    }
    return pieces;
}

DateTimeFormat::DateTimeFormat(QLocale locale)
    : m_locale(std::move(locale)), m_dateFormat(DateFormat(m_locale)), m_timeFormat(TimeFormat(m_locale))
{
    if (std::optional<std::vector<TimePiece>> pieces = TimePieces(m_timeFormat, m_locale))
        m_timePieces = std::move(*pieces);
}

const QString& DateTimeFormat::dateText(QDate date) const
{
    // Bounded, for a table whose terminals were registered on ever new days.
    constexpr std::size_t kMaxDates = 4096;
    const qint64 day = date.toJulianDay();
    if (const auto known = m_dateTexts.find(day); known != m_dateTexts.end())
        return known->second;
    if (m_dateTexts.size() >= kMaxDates)
        m_dateTexts.clear();
    return m_dateTexts.emplace(day, m_locale.toString(date, m_dateFormat)).first->second;
}

QString DateTimeFormat::text(const QDateTime& value) const
{
    if (!value.isValid())
        return QString();
    const QTime time = value.time();
    if (time == QTime(0, 0))
        return dateText(value.date());
    const QString& date = dateText(value.date());
    QString text;
    text.reserve(date.size() + 1 + 16);
    text += date;
    text += QLatin1Char(' ');
    if (m_timePieces.empty()) {
        text += m_locale.toString(time, m_timeFormat);
        return text;
    }
    for (const TimePiece& piece : m_timePieces) {
        switch (piece.field) {
        case TimePiece::Field::None: text += piece.texts[0]; break;
        case TimePiece::Field::Hour: text += piece.texts[static_cast<std::size_t>(time.hour())]; break;
        case TimePiece::Field::Minute: text += piece.texts[static_cast<std::size_t>(time.minute())]; break;
        case TimePiece::Field::Second: text += piece.texts[static_cast<std::size_t>(time.second())]; break;
        }
    }
    return text;
}

} // namespace korvane
