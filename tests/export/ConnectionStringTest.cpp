#include "export/ConnectionString.h"
#include "export/OdbcError.h"
#include "export/ServerNotation.h"

#include "tests/export/QtPrinting.h"

#include <gtest/gtest.h>

using namespace korvane;

namespace {

QString Text(const ConnectionString& s)
{
    return QString::fromUtf16(s.view().data(), static_cast<qsizetype>(s.view().size()));
}

QString Build(OdbcDialect dialect, const QString& server, const QString& login, const QString& password,
              const QString& driver = QStringLiteral("FreeTDS"))
{
    return Text(BuildConnectionString(dialect, driver, server, QStringLiteral("nitgenacdbsql00"), login, password));
}

struct ServerCase {
    const char16_t* typed;
    const char16_t* pieces;
};

class FreeTdsServerTest : public ::testing::TestWithParam<ServerCase> {};

TEST_P(FreeTdsServerTest, ServerAsSqlServerUsersTypeIt)
{
    EXPECT_EQ(Build(OdbcDialect::FreeTds, QString::fromUtf16(GetParam().typed), QStringLiteral("op"), QStringLiteral("pw")),
              QStringLiteral("DRIVER={FreeTDS};") + QString::fromUtf16(GetParam().pieces)
                  + QStringLiteral("DATABASE={nitgenacdbsql00};UID={op};PWD={pw};TDS_Version=7.4;"));
}

INSTANTIATE_TEST_SUITE_P(Cases, FreeTdsServerTest,
                         ::testing::Values(ServerCase{u"db1", u"SERVER={db1};"},
                                           ServerCase{u"db1,1433", u"SERVER={db1};PORT=1433;"},
                                           ServerCase{u"10.0.0.7,65535", u"SERVER={10.0.0.7};PORT=65535;"},
                                           ServerCase{u"db1\\NAC", u"SERVER={db1\\NAC};"},
                                           // the port decides, as with SQL Server's own clients
                                           ServerCase{u"db1\\NAC,1500", u"SERVER={db1};PORT=1500;"},
                                           ServerCase{u"tcp:db1", u"SERVER={db1};"},
                                           ServerCase{u"TCP:db1,1433", u"SERVER={db1};PORT=1433;"},
                                           ServerCase{u"tcp:db1\\NAC", u"SERVER={db1\\NAC};"},
                                           ServerCase{u"tcp:127.0.0.1,1433", u"SERVER={127.0.0.1};PORT=1433;"},
                                           ServerCase{u"(local)", u"SERVER={localhost};"},
                                           ServerCase{u"(LOCAL),1433", u"SERVER={localhost};PORT=1433;"},
                                           ServerCase{u".\\SQLEXPRESS", u"SERVER={localhost\\SQLEXPRESS};"},
                                           ServerCase{u"tcp:.,1433", u"SERVER={localhost};PORT=1433;"},
                                           ServerCase{u"localhost", u"SERVER={localhost};"},
                                           ServerCase{u"::1", u"SERVER={::1};"},
                                           ServerCase{u"::1,1433", u"SERVER={::1};PORT=1433;"},
                                           ServerCase{u"[::1],1433", u"SERVER={::1};PORT=1433;"},
                                           ServerCase{u"tcp:[fe80::1%eth0]", u"SERVER={fe80::1%eth0};"},
                                           ServerCase{u"[2001:db8::7]\\NAC", u"SERVER={2001:db8::7\\NAC};"},
                                           // not a port: the driver gets the text as typed
                                           ServerCase{u"db1,", u"SERVER={db1,};"},
                                           ServerCase{u"db1,0", u"SERVER={db1,0};"},
                                           ServerCase{u"db1,65536", u"SERVER={db1,65536};"},
                                           ServerCase{u"db1, 1433", u"SERVER={db1, 1433};"},
                                           ServerCase{u"", u"SERVER={};"},
                                           ServerCase{u"a;UID=x", u"SERVER={a;UID=x};"}));

TEST(ConnectionStringTest, FreeTdsCarriesSeparatorsAndBracesAsTyped)
{
    EXPECT_EQ(Build(OdbcDialect::FreeTds, QStringLiteral("h"), QStringLiteral("a;b=c{d}"), QStringLiteral("}p}{")),
              QStringLiteral("DRIVER={FreeTDS};SERVER={h};DATABASE={nitgenacdbsql00};UID={a;b=c{d}};PWD={}p}{};"
                             "TDS_Version=7.4;"));
}

TEST(ConnectionStringTest, StandardDialectDoublesClosingBracesAndNamesNoTdsVersion)
{
    EXPECT_EQ(Build(OdbcDialect::Standard, QStringLiteral("db1,1433"), QStringLiteral("a};b"), QStringLiteral("}"),
                    QStringLiteral("ODBC Driver 18 for SQL Server")),
              QStringLiteral("DRIVER={ODBC Driver 18 for SQL Server};SERVER={db1,1433};DATABASE={nitgenacdbsql00};"
                             "UID={a}};b};PWD={}}};"));
}

struct RefusedCase {
    OdbcDialect dialect;
    QString server;
    QString login;
    QString password;
    const char16_t* field;
};

class RefusedValueTest : public ::testing::TestWithParam<RefusedCase> {};

// A value the driver would read back altered is refused before anything is sent, with a text
// that names the field but never repeats the value.
TEST_P(RefusedValueTest, RefusedWithNumberAndFieldName)
{
    const RefusedCase& c = GetParam();
    try {
        Build(c.dialect, c.server, c.login, c.password);
        FAIL() << "accepted";
    } catch (const OdbcError& error) {
        EXPECT_EQ(error.number(), kBadConnectionValue);
        ASSERT_EQ(error.diagnostics().size(), 1u);
        EXPECT_EQ(error.diagnostics()[0].sqlState, QStringLiteral("01S00"));
        EXPECT_TRUE(error.description().startsWith(QString::fromUtf16(c.field))) << error.description().toStdString();
        EXPECT_TRUE(error.description().contains(QStringLiteral("não foi tentada")));
        EXPECT_FALSE(error.description().contains(QStringLiteral("segredo")));
    }
}

const QString kNul = QString(QChar(0));

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedValueTest,
    ::testing::Values(RefusedCase{OdbcDialect::FreeTds, "h", "a};b", "p", u"O utilizador"},
                      RefusedCase{OdbcDialect::FreeTds, "h", "op", "segredo};", u"A palavra-passe"},
                      RefusedCase{OdbcDialect::FreeTds, "h};x", "op", "p", u"O servidor"},
                      RefusedCase{OdbcDialect::FreeTds, "h", "op", "segredo" + kNul, u"A palavra-passe"},
                      RefusedCase{OdbcDialect::Standard, "h", "o" + kNul + "p", "p", u"O utilizador"}));

struct ColonCase {
    const char16_t* typed;
    const char16_t* suggestion;
};

class HostColonPortTest : public ::testing::TestWithParam<ColonCase> {};

// "host:port" is no SQL Server notation: refused before anything is sent, showing the form that is.
TEST_P(HostColonPortTest, RefusedShowingTheCommaForm)
{
    const QString typed = QString::fromUtf16(GetParam().typed);
    for (const OdbcDialect dialect : {OdbcDialect::FreeTds, OdbcDialect::Standard}) {
        try {
            Build(dialect, typed, QStringLiteral("op"), QStringLiteral("segredo"));
            ADD_FAILURE() << "accepted: " << typed.toStdString();
        } catch (const OdbcError& error) {
            EXPECT_EQ(error.number(), kBadConnectionValue);
            const QString text = error.description();
            EXPECT_TRUE(text.contains(QStringLiteral("escreva ") + QString::fromUtf16(GetParam().suggestion) + u'.'))
                << text.toStdString();
            EXPECT_TRUE(text.contains(QStringLiteral("dois pontos")));
            EXPECT_TRUE(text.contains(QStringLiteral("não foi tentada")));
            EXPECT_FALSE(text.contains(QStringLiteral("segredo")));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, HostColonPortTest,
                         ::testing::Values(ColonCase{u"127.0.0.1:1433", u"127.0.0.1,1433"},
                                           ColonCase{u"tcp:db1:1433", u"db1,1433"},
                                           ColonCase{u"localhost:40123", u"localhost,40123"},
                                           ColonCase{u"db1\\NAC:1500", u"db1\\NAC,1500"},
                                           ColonCase{u"[::1]:1433", u"::1,1433"}));

TEST(ServerNotationTest, NamedPipesAndSharedMemoryAreRefusedForTcp)
{
    for (const QString& typed : {QStringLiteral("np:\\\\db1\\pipe\\sql\\query"), QStringLiteral("lpc:db1")}) {
        try {
            ParseServerNotation(typed);
            ADD_FAILURE() << "accepted: " << typed.toStdString();
        } catch (const OdbcError& error) {
            EXPECT_EQ(error.number(), kBadConnectionValue);
            EXPECT_TRUE(error.description().contains(QStringLiteral("TCP"))) << error.description().toStdString();
        }
    }
}

TEST(ConnectionStringTest, RequiredEncryptionIsNamedToEachDriver)
{
    EXPECT_EQ(Text(BuildConnectionString(OdbcDialect::FreeTds, QStringLiteral("FreeTDS"), QStringLiteral("db1,1433"),
                                         QStringLiteral("c"), QStringLiteral("l"), QStringLiteral("p"),
                                         Encryption::Require)),
              QStringLiteral("DRIVER={FreeTDS};SERVER={db1};PORT=1433;DATABASE={c};UID={l};PWD={p};TDS_Version=7.4;"
                             "Encryption={require};"));
    EXPECT_EQ(Text(BuildConnectionString(OdbcDialect::Standard, QStringLiteral("ODBC Driver 18 for SQL Server"),
                                         QStringLiteral("db1,1433"), QStringLiteral("c"), QStringLiteral("l"),
                                         QStringLiteral("p"), Encryption::Require)),
              QStringLiteral("DRIVER={ODBC Driver 18 for SQL Server};SERVER={db1,1433};DATABASE={c};UID={l};PWD={p};"
                             "Encrypt={yes};"));
    // With a freetds.conf section of its own, the section stands for the server.
    EXPECT_EQ(Text(BuildConnectionString(OdbcDialect::FreeTds, QStringLiteral("FreeTDS"), QStringLiteral("db1,1433"),
                                         QStringLiteral("c"), QStringLiteral("l"), QStringLiteral("p"),
                                         Encryption::Require, QStringLiteral("korvane"))),
              QStringLiteral("DRIVER={FreeTDS};SERVERNAME={korvane};DATABASE={c};UID={l};PWD={p};TDS_Version=7.4;"
                             "Encryption={require};"));
}

TEST(ConnectionSecurityTest, ReadFromTheEnvironment)
{
    struct Case {
        const char* encrypt;   // nullptr: unset
        const char* caFile;
        Encryption encryption;
        bool required;
        bool invalid;
    };
    const Case cases[] = {
        {nullptr, nullptr, Encryption::Request, false, false},
        {"", "", Encryption::Request, false, false},
        {"request", nullptr, Encryption::Request, false, false},
        {"require", nullptr, Encryption::Require, true, false},
        {"REQUIRE", nullptr, Encryption::Require, true, false},
        {nullptr, "/etc/ssl/ca.pem", Encryption::Request, true, false},   // a CA file implies require
        {"yes", nullptr, Encryption::Request, false, true},
    };
    for (const Case& c : cases) {
        const auto set = [](const char* name, const char* value) {
            if (value)
                qputenv(name, value);
            else
                qunsetenv(name);
        };
        set(kEncryptVariable, c.encrypt);
        set(kCaFileVariable, c.caFile);
        const ConnectionSecurity security = ConnectionSecurityFromEnvironment();
        EXPECT_EQ(security.encryption, c.encryption) << (c.encrypt ? c.encrypt : "unset");
        EXPECT_EQ(security.encryptionRequired(), c.required) << (c.encrypt ? c.encrypt : "unset");
        EXPECT_EQ(security.caFile, QString::fromUtf8(c.caFile ? c.caFile : ""));
        EXPECT_EQ(!security.invalidSetting.isEmpty(), c.invalid);
        if (c.invalid) {
            EXPECT_TRUE(security.invalidSetting.contains(QStringLiteral("KORVANE_ENCRYPT")));
            EXPECT_TRUE(security.invalidSetting.contains(QStringLiteral("request ou require")));
        }
    }
    qunsetenv(kEncryptVariable);
    qunsetenv(kCaFileVariable);
}

TEST(ConnectionStringTest, DialectFollowsDriverName)
{
    EXPECT_EQ(DialectOfDriver(u"FreeTDS"), OdbcDialect::FreeTds);
    EXPECT_EQ(DialectOfDriver(u"freetds"), OdbcDialect::FreeTds);
    EXPECT_EQ(DialectOfDriver(u"ODBC Driver 18 for SQL Server"), OdbcDialect::Standard);
    EXPECT_EQ(DialectOfDriver(u"SQL Server"), OdbcDialect::Standard);
}

TEST(ConnectionStringTest, MovedFromStringHoldsNothing)
{
    ConnectionString first = BuildConnectionString(OdbcDialect::FreeTds, QStringLiteral("FreeTDS"), QStringLiteral("h"),
                                                   QStringLiteral("c"), QStringLiteral("l"), QStringLiteral("segredo"));
    ConnectionString second = std::move(first);
    EXPECT_TRUE(first.view().empty());   // NOLINT(bugprone-use-after-move): the point of the test
    EXPECT_TRUE(Text(second).contains(QStringLiteral("PWD={segredo};")));
}

TEST(OdbcErrorTest, NumberIsFirstNonZeroNativeAndDescriptionEveryText)
{
    const OdbcError error({{QStringLiteral("08001"), 0, QStringLiteral("Unable to connect")},
                           {QStringLiteral("28000"), 18456, QStringLiteral("Login failed for user 'op'.")},
                           {QStringLiteral("01000"), 20002, QStringLiteral("connection failed")}});
    EXPECT_EQ(error.number(), 18456);
    EXPECT_EQ(error.description(),
              QStringLiteral("Unable to connect\nLogin failed for user 'op'.\nconnection failed"));
    EXPECT_STREQ(error.what(), "18456 - Unable to connect\nLogin failed for user 'op'.\nconnection failed");

    const OdbcError timeout({{QStringLiteral("HYT00"), 0, QStringLiteral("Timeout expired")}});
    EXPECT_EQ(timeout.number(), 0);
    EXPECT_EQ(timeout.description(), QStringLiteral("Timeout expired"));
}

} // namespace
