// A 100,000-row export through the FreeTDS ODBC driver, end to end (connect, fetch, build the
// document, save the file) with ExportTerminals, beside FreeTDS's own bsqldb fetching the same
// query from the same server in the same run; each time the median of several runs, alternated
// so that any drift of the machine falls on both alike.
//
// The server is the korvane-tds-server process rather than a TdsTestServer in this process:
// its rows and send buffers would otherwise count in the memory measured here, and bsqldb, a
// process of its own, meets the server the same way the export does.
//
// Memory: the rise of this process's resident memory at its peak during one export, over the
// size of the file it wrote. The kernel's high-water mark is reset just before each export.
// Memory the allocator keeps after a run is reused by the next without showing as growth, so
// the figure is the largest over the runs, which in practice is the first, made before any
// other large allocation in this process.

#include "bench/ExportBench.h"
#include "bench/PeakMemory.h"

#include "export/ExportTerminals.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/ServerProcess.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace korvane::bench {

namespace {

constexpr int kRows = 100'000;
constexpr int kRuns = 5;
// Every 50th generated terminal has Status 255 and stays out of the file.
constexpr int kExportedRows = kRows - kRows / 50;

const QString kLogin = QStringLiteral("operador");
const QString kPassword = QStringLiteral("segredo");
const QByteArray kTerminalQuery =
    "Select NodeId, NodeName, Description, RegDate, MacAddr, Status  from NGAC_Terminal Order By NodeID\n";

[[noreturn]] void Fail(const QString& what)
{
    std::fprintf(stderr, "korvane-bench: %s\n", qPrintable(what));
    std::exit(1);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The TDS test server as a child process holding kRows generated terminals, serving until this
// ends.
class BenchServer : public test::ServerProcess {
public:
    explicit BenchServer(QStringList arguments)
        : ServerProcess(QStringLiteral(KORVANE_TDS_SERVER_EXE), arguments << QStringLiteral("--rows") << QString::number(kRows),
                        60'000)
    {
        if (serverText().isEmpty())
            Fail(error());
    }
};

struct FileCheck {
    qint64 bytes = 0;
    qsizetype terminals = 0;
    bool wellEnded = false;
};

// Counts the terminal elements of the file in pieces: reading it whole would leave a block as
// large as the file to the allocator, which the next run's document would then grow in by
// copying instead of by remapping, and that would be timed as the export's.
FileCheck CheckFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        Fail(QStringLiteral("the export left no file: ") + file.errorString());
    const QByteArray tag = "<Nac>";
    const QByteArray end = "</Nac></Vorantis>";
    FileCheck check;
    check.bytes = file.size();
    // A tag cut by the end of one piece is found whole with the start of the next.
    QByteArray carried;
    for (QByteArray piece; !(piece = file.read(1 << 20)).isEmpty();) {
        piece.prepend(carried);
        check.terminals += piece.count(tag);
        carried = piece.right(tag.size() - 1);
    }
    check.wellEnded = file.seek(std::max<qint64>(0, check.bytes - end.size())) && file.read(end.size()) == end;
    return check;
}

struct KorvaneRun {
    double seconds = 0;
    std::optional<std::int64_t> peakGrowth;
    qint64 fileBytes = 0;
};

KorvaneRun RunKorvane(const QString& server, const QString& path)
{
    QFile::remove(path);
    // The fields as an operator would fill them; no question is expected (the file is gone), and
    // one would be answered OK.
    test::ScriptedOperator op;
    op.filePath = path;
    op.server = server;
    op.login = kLogin;
    op.password = kPassword;
    op.answers = {Answer::Ok};
    ExportOptions options;
    options.locale = QLocale(QStringLiteral("pt_PT"));

    const PeakMemoryGrowth memory;
    const auto start = std::chrono::steady_clock::now();
    ExportTerminals(op, options);
    KorvaneRun run;
    run.seconds = SecondsSince(start);
    run.peakGrowth = memory.growth();

    QStringList messages;
    for (const test::ScriptedOperator::Message& message : op.messages)
        messages << message.text;
    if (messages != QStringList{QStringLiteral("Terminado!")})
        Fail(QStringLiteral("the export ended with: ") + messages.join(QStringLiteral(" | ")));
    const FileCheck file = CheckFile(path);
    if (file.terminals != kExportedRows || !file.wellEnded)
        Fail(QStringLiteral("the file holds %1 terminals, not %2").arg(file.terminals).arg(kExportedRows));
    run.fileBytes = file.bytes;
    return run;
}

// bsqldb with a configuration of its own, so the machine's or the user's cannot change what it
// does; its rows go to the null device, and its closing row count to standard error.
double RunBsqldb(quint16 port, const QString& configuration, const QString& queryFile)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("FREETDSCONF"), configuration);
    environment.insert(QStringLiteral("TDSVER"), QStringLiteral("7.4"));
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(QProcess::nullDevice());
    const QStringList arguments = {QStringLiteral("-S"), QStringLiteral("127.0.0.1:%1").arg(port),
                                   QStringLiteral("-U"), kLogin,
                                   QStringLiteral("-P"), kPassword,
                                   QStringLiteral("-D"), QStringLiteral("nitgenacdbsql00"),
                                   QStringLiteral("-i"), queryFile};

    const auto start = std::chrono::steady_clock::now();
    process.start(QStringLiteral(KORVANE_BSQLDB), arguments);
    if (!process.waitForStarted(10'000))
        Fail(QStringLiteral("bsqldb did not start: ") + process.errorString());
    if (!process.waitForFinished(120'000))
        Fail(QStringLiteral("bsqldb did not finish"));
    const double seconds = SecondsSince(start);

    const QByteArray errors = process.readAllStandardError();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        Fail(QStringLiteral("bsqldb failed (%1): %2").arg(process.exitCode()).arg(QString::fromUtf8(errors)));
    if (!errors.contains(QByteArray::number(kRows) + " rows affected"))
        Fail(QStringLiteral("bsqldb did not print the %1 rows: %2").arg(kRows).arg(QString::fromUtf8(errors)));
    return seconds;
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        Fail(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
}

struct Series {
    std::vector<double> seconds;
    std::optional<std::int64_t> peakGrowth;
    qint64 fileBytes = 0;

    void add(const KorvaneRun& run)
    {
        seconds.push_back(run.seconds);
        if (run.peakGrowth)
            peakGrowth = std::max(peakGrowth.value_or(0), *run.peakGrowth);
        fileBytes = run.fileBytes;
    }

    ExportTiming timing(std::string name) const
    {
        ExportTiming timing{std::move(name), Median(seconds), std::nullopt, static_cast<double>(fileBytes)};
        if (peakGrowth)
            timing.peakGrowthBytes = static_cast<double>(*peakGrowth);
        return timing;
    }
};

} // namespace

ExportReport MeasureExport()
{
    QTemporaryDir folder;
    if (!folder.isValid())
        Fail(QStringLiteral("no temporary folder: ") + folder.errorString());
    const QString configuration = folder.filePath(QStringLiteral("freetds.conf"));
    const QString queryFile = folder.filePath(QStringLiteral("terminais.sql"));
    const QString xmlFile = folder.filePath(QStringLiteral("terminais.xml"));
    WriteFile(configuration, "[global]\n\ttds version = 7.4\n\tclient charset = UTF-8\n");
    WriteFile(queryFile, kTerminalQuery);

    // bsqldb prints an nvarchar(max) column as hexadecimal, so the comparison uses a
    // Description of bounded length; the export against (max), whose values it reads one by
    // one, is shown beside it.
    const BenchServer bounded({QStringLiteral("--description-length"), QStringLiteral("200")});
    const BenchServer unbounded({});

    Series korvane;
    Series korvaneUnbounded;
    std::vector<double> bsqldb;
    for (int i = 0; i < kRuns; ++i) {
        korvane.add(RunKorvane(bounded.serverText(), xmlFile));
        bsqldb.push_back(RunBsqldb(bounded.port(), configuration, queryFile));
        korvaneUnbounded.add(RunKorvane(unbounded.serverText(), xmlFile));
    }

    ExportReport report;
    report.rows = kRows;
    report.runs = kRuns;
    report.timings.push_back(korvane.timing("korvane export, nvarchar(200)"));
    report.timings.push_back({"bsqldb, nvarchar(200)", Median(bsqldb), std::nullopt, std::nullopt});
    report.timings.push_back(korvaneUnbounded.timing("korvane export, nvarchar(max)"));
    report.exportVsBsqldb = report.timings[0].seconds / report.timings[1].seconds;
    if (report.timings[0].peakGrowthBytes)
        report.peakGrowthOverFile = *report.timings[0].peakGrowthBytes / *report.timings[0].fileBytes;
    return report;
}

void PrintExport(const ExportReport& report)
{
    std::printf("Export of %d terminal rows through FreeTDS (Description column as shown), median of %d\n",
                report.rows, report.runs);
    std::printf("%-32s %9s %15s %9s\n", "reader", "seconds", "RSS growth MB", "file MB");
    for (const ExportTiming& t : report.timings) {
        const auto megabytes = [](const std::optional<double>& bytes) {
            char text[32] = "-";
            if (bytes)
                std::snprintf(text, sizeof text, "%.1f", *bytes / 1e6);
            return std::string(text);
        };
        std::printf("%-32s %9.3f %15s %9s\n", t.name.c_str(), t.seconds, megabytes(t.peakGrowthBytes).c_str(),
                    megabytes(t.fileBytes).c_str());
    }
    std::printf("export_vs_bsqldb %.3f\n", report.exportVsBsqldb);
    if (report.peakGrowthOverFile)
        std::printf("export_peak_rss_over_file %.3f\n", *report.peakGrowthOverFile);
    else
        std::printf("export_peak_rss_over_file n/a\n");
}

} // namespace korvane::bench
