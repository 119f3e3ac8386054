// BuildConnectionString on arbitrary server, login and password, for both driver dialects: the
// string it builds, read the way that dialect's driver reads it, gives back exactly the keys and
// values that went in (FreeTDS: the server as ParseServerNotation takes it apart); or the call
// refuses with kBadConnectionValue, and only a value that the driver could not read back
// unchanged, or a server notation that ParseServerNotation refuses, is refused.
//
// Input: a flag byte (bit 0: the ODBC rule instead of FreeTDS's; bit 1: the values are UTF-16
// units, two bytes each, least significant first, instead of one Latin-1 character per byte),
// the server's length and the login's length in characters, then the server, the login and,
// with what is left, the password.

#include "tests/fuzz/FuzzCheck.h"

#include "export/ConnectionString.h"
#include "export/OdbcError.h"
#include "export/ServerNotation.h"

#include <QString>
#include <QStringView>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace korvane::fuzz {
namespace {

struct Input {
    OdbcDialect dialect = OdbcDialect::FreeTds;
    QString server;
    QString login;
    QString password;
};

Input ReadInput(std::string_view bytes)
{
    Input input;
    const auto byteAt = [&](std::size_t i) -> std::size_t { return i < bytes.size() ? static_cast<std::uint8_t>(bytes[i]) : 0; };
    const std::size_t flags = byteAt(0);
    input.dialect = (flags & 1) != 0 ? OdbcDialect::Standard : OdbcDialect::FreeTds;
    const bool wide = (flags & 2) != 0;
    const std::size_t lengths[2] = {byteAt(1), byteAt(2)};
    std::string_view rest = bytes.substr(std::min<std::size_t>(3, bytes.size()));

    const auto take = [&](std::size_t characters) {
        const std::size_t width = wide ? 2 : 1;
        const std::string_view piece = rest.substr(0, std::min(rest.size(), characters * width));
        rest.remove_prefix(piece.size());
        QString text;
        for (std::size_t i = 0; i + width <= piece.size(); i += width) {
            const auto low = static_cast<std::uint8_t>(piece[i]);
            const auto high = wide ? static_cast<std::uint8_t>(piece[i + 1]) : std::uint8_t{0};
            text += QChar(static_cast<char16_t>(low | (high << 8)));
        }
        return text;
    };
    input.server = take(lengths[0]);
    input.login = take(lengths[1]);
    input.password = take(rest.size());
    return input;
}

using Pairs = std::vector<std::pair<QString, QString>>;

// Reads "KEY=value;KEY={braced value};..." as the dialect's driver does. An unbraced value runs
// to the next ";". A braced one ends, for FreeTDS, at the first "}" that is followed by ";" or
// stands last, with "}}" taken as two characters; by the ODBC rule at the first "}" that is not
// doubled, "}}" standing for one "}". Nothing may follow a closing brace but ";" or the end.
// Nothing when the string does not read.
std::optional<Pairs> Parse(QStringView text, OdbcDialect dialect)
{
    Pairs pairs;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype equals = text.indexOf(u'=', i);
        if (equals < 0)
            return std::nullopt;
        const QStringView key = text.mid(i, equals - i);
        if (key.isEmpty() || key.contains(u';') || key.contains(u'{') || key.contains(u'}'))
            return std::nullopt;
        i = equals + 1;
        QString value;
        if (i < text.size() && text.at(i) == u'{') {
            ++i;
            bool closed = false;
            while (i < text.size()) {
                const QChar c = text.at(i);
                if (c != u'}') {
                    value += c;
                    ++i;
                    continue;
                }
                const bool last = i + 1 == text.size();
                if (dialect == OdbcDialect::FreeTds) {
                    if (last || text.at(i + 1) == u';') {
                        closed = true;
                        ++i;
                        break;
                    }
                    value += c;
                    ++i;
                } else if (!last && text.at(i + 1) == u'}') {
                    value += c;
                    i += 2;
                } else {
                    closed = true;
                    ++i;
                    break;
                }
            }
            if (!closed)
                return std::nullopt;
            if (i < text.size()) {
                if (text.at(i) != u';')
                    return std::nullopt;
                ++i;
            }
        } else {
            const qsizetype semicolon = text.indexOf(u';', i);
            const qsizetype end = semicolon < 0 ? text.size() : semicolon;
            value = text.mid(i, end - i).toString();
            i = semicolon < 0 ? text.size() : semicolon + 1;
        }
        pairs.emplace_back(key.toString(), value);
    }
    return pairs;
}

bool AllDigits(const QString& text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

const QString kCatalog = QStringLiteral("nitgenacdbsql00");

QString DriverOf(OdbcDialect dialect)
{
    return dialect == OdbcDialect::FreeTds ? QStringLiteral("FreeTDS") : QStringLiteral("ODBC Driver 18 for SQL Server");
}

bool Uncarried(const QString& value, OdbcDialect dialect)
{
    return value.contains(QChar(u'\0')) || (dialect == OdbcDialect::FreeTds && value.contains(QStringLiteral("};")));
}

void CheckBuilt(const Input& input, QStringView built)
{
    const std::optional<Pairs> parsed = Parse(built, input.dialect);
    FUZZ_CHECK(parsed.has_value());
    Pairs expected = {{QStringLiteral("DRIVER"), DriverOf(input.dialect)}};
    // FreeTDS is given the server taken apart: a port of its own, when the text ends in one, and
    // the host, with the instance when no port decides.
    const bool hasPort = parsed->size() > 2 && (*parsed)[2].first == u"PORT";
    if (input.dialect == OdbcDialect::FreeTds) {
        const ServerAddress address = ParseServerNotation(input.server);
        FUZZ_CHECK(hasPort == !address.port.isEmpty());
        if (hasPort) {
            const QString& port = (*parsed)[2].second;
            FUZZ_CHECK(AllDigits(port) && port.size() <= 5 && port.toInt() >= 1 && port.toInt() <= 65535);
            FUZZ_CHECK(input.server.endsWith(u',' + port));
            expected.emplace_back(QStringLiteral("SERVER"), address.host);
            expected.emplace_back(QStringLiteral("PORT"), port);
        } else {
            expected.emplace_back(QStringLiteral("SERVER"), address.instance.isEmpty()
                                                                 ? address.host
                                                                 : address.host + u'\\' + address.instance);
        }
        FUZZ_CHECK(address.host == u"localhost" || input.server.contains(address.host));
    } else {
        FUZZ_CHECK(!hasPort);
        expected.emplace_back(QStringLiteral("SERVER"), input.server);
    }
    expected.emplace_back(QStringLiteral("DATABASE"), kCatalog);
    expected.emplace_back(QStringLiteral("UID"), input.login);
    expected.emplace_back(QStringLiteral("PWD"), input.password);
    if (input.dialect == OdbcDialect::FreeTds)
        expected.emplace_back(QStringLiteral("TDS_Version"), QStringLiteral("7.4"));
    FUZZ_CHECK(*parsed == expected);
}

bool NotationRefused(const QString& server)
{
    try {
        (void)ParseServerNotation(server);
        return false;
    } catch (const OdbcError&) {
        return true;
    }
}

void CheckRefused(const Input& input, const OdbcError& error)
{
    FUZZ_CHECK(error.number() == kBadConnectionValue);
    FUZZ_CHECK(error.diagnostics().size() == 1 && error.diagnostics().front().sqlState == u"01S00");
    const bool valueUncarried = Uncarried(input.server, input.dialect) || Uncarried(input.login, input.dialect)
        || Uncarried(input.password, input.dialect);
    FUZZ_CHECK(valueUncarried || NotationRefused(input.server));
    if (!valueUncarried) {
        // Refused for the notation alone: the text is the notation's, which never sees the password.
        try {
            (void)ParseServerNotation(input.server);
        } catch (const OdbcError& notation) {
            FUZZ_CHECK(notation.description() == error.description());
        }
        return;
    }

    // The refusal must not carry the password: a password refused for the same reason, whatever
    // else it holds, gives the same text.
    if (!Uncarried(input.server, input.dialect) && !Uncarried(input.login, input.dialect)) {
        const QString standIn = input.password.contains(QChar(u'\0')) ? QString(QChar(u'\0')) : QStringLiteral("};");
        try {
            (void)BuildConnectionString(input.dialect, DriverOf(input.dialect), input.server, kCatalog, input.login,
                                        standIn);
            Fail("a refused password's stand-in was accepted", __FILE__, __LINE__);
        } catch (const OdbcError& other) {
            FUZZ_CHECK(other.description() == error.description());
            FUZZ_CHECK(std::string_view(other.what()) == error.what());
        }
    }
}

} // namespace
} // namespace korvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace korvane;
    using namespace korvane::fuzz;
    const Input input = ReadInput({reinterpret_cast<const char*>(data), size});
    try {
        const ConnectionString built = BuildConnectionString(input.dialect, DriverOf(input.dialect), input.server,
                                                             kCatalog, input.login, input.password);
        const std::u16string_view view = built.view();
        CheckBuilt(input, QStringView(view.data(), static_cast<qsizetype>(view.size())));
    } catch (const OdbcError& error) {
        CheckRefused(input, error);
    }
    return 0;
}
