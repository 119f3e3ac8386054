#include "export/ExportTerminals.h"

#include "export/ConnectionString.h"
#include "export/DatabaseConnection.h"
#include "export/TerminalDocument.h"
#include "export/TextPadding.h"
#include "export/WipeSecret.h"

#include <QFileInfo>

#include <exception>
#include <new>
#include <optional>

namespace korvane {

namespace {

const QString kCatalog = QStringLiteral("nitgenacdbsql00");
const QString kTerminalQuery =
    QStringLiteral("Select NodeId, NodeName, Description, RegDate, MacAddr, Status  from NGAC_Terminal Order By NodeID");

// Whatever stands at the path, but a folder, would be replaced by the save, so it is asked about:
// dot-files, files the operator cannot read, special files and symbolic links, dangling ones too.
// A folder is never replaced (the save fails on it), so it asks nothing.
bool SaveWouldReplaceSomething(const QString& path)
{
    const QFileInfo info(path);
    return (info.exists() || info.isSymLink()) && !info.isDir();
}

// Only a Status known to differ from 255 exports the row: NULL, and anything that is not a
// number, cannot be compared and leaves it out like 255 does.
bool DiffersFrom255(const FieldValue& status)
{
    if (const auto* number = std::get_if<qint64>(&status))
        return *number != 255;
    if (const auto* text = std::get_if<QString>(&status)) {
        bool isNumber = false;
        const double value = text->trimmed().toDouble(&isNumber);
        return isNumber && value != 255.0;
    }
    return false;
}

// The columns the run reads, by their place in the result: found by name once, at the first
// row, rather than at every row.
struct TerminalColumns {
    std::size_t nodeId = 0;
    std::size_t nodeName = 0;
    std::size_t description = 0;
    std::size_t regDate = 0;
    std::size_t macAddr = 0;
    std::size_t status = 0;

    explicit TerminalColumns(const QueryResult& rows)
        : nodeId(rows.columnIndex(u"NodeID")), nodeName(rows.columnIndex(u"NodeName")),
          description(rows.columnIndex(u"Description")), regDate(rows.columnIndex(u"RegDate")),
          macAddr(rows.columnIndex(u"MacAddr")), status(rows.columnIndex(u"Status"))
    {
    }

    TerminalRecord recordOf(const QueryResult& rows) const
    {
        return {rows.value(nodeId), rows.value(nodeName), rows.value(description), rows.value(regDate),
                rows.value(macAddr)};
    }
};

void ShowFailure(ExportOperator& op, qint32 number, const QString& description)
{
    op.showMessage(QString::number(number) + QStringLiteral(" - ") + description, kApplicationTitle,
                   MessageIcon::Critical);
}

// The run's copy of the password is overwritten however the connection attempt ends.
struct SecretWipedAtEnd {
    QString& text;
    ~SecretWipedAtEnd() { WipeSecret(text); }
};

QString ReasonOf(const std::exception& error)
{
    if (dynamic_cast<const std::bad_alloc*>(&error))
        return QStringLiteral("Memória insuficiente.");
    return QString::fromLocal8Bit(error.what());
}

void RunSteps(ExportOperator& op, const ExportOptions& options)
{
    if (TrimBlanks(op.filePathText()).isEmpty()) {
        op.showMessage(QStringLiteral("Tem que indicar o caminho do ficheiro!"), kApplicationTitle,
                       MessageIcon::Critical);
        op.moveFocusToFilePath();
        return;
    }

    // The old file stays where it is: the save replaces it in one step, so a run that ends
    // early (a refused login, a failed query or save) leaves it as it was.
    if (SaveWouldReplaceSomething(op.filePathText())
        && op.askOkCancel(QStringLiteral("Pretende Continuar?"), QStringLiteral("O Ficheiro Será Sobreposto:"))
               == Answer::Cancel) {
        return;
    }

    const QString server = op.serverText();
    const QString login = op.loginText();
    DatabaseConnection connection;
    qint32 errorNumber = 0;
    QString errorDescription;
    bool connected = false;
    {
        QString password = op.passwordText();
        const SecretWipedAtEnd wiped{password};
        connected = OpenConnection(connection, server, kCatalog, login, password, options.timeoutSeconds,
                                   errorNumber, errorDescription, options.security);
    }
    if (!connected) {
        ShowFailure(op, errorNumber, errorDescription);
        return;
    }

    TerminalDocument document(options.locale);
    try {
        QueryResult rows = connection.execute(kTerminalQuery);
        std::optional<TerminalColumns> columns;
        while (rows.next()) {
            if (!columns)
                columns.emplace(rows);
            if (DiffersFrom255(rows.value(columns->status)))
                document.appendTerminal(columns->recordOf(rows));
        }
    } catch (const OdbcError& error) {
        connection.close();
        ShowFailure(op, error.number(), error.description());
        return;
    }
    connection.close();

    SaveError saveError;
    if (!document.save(op.filePathText(), saveError)) {
        op.showMessage(QStringLiteral("Não foi possível gravar o ficheiro!\n") + QString::number(saveError.number)
                           + QStringLiteral(" - ") + saveError.description,
                       kApplicationTitle, MessageIcon::Critical);
        return;
    }
    op.showMessage(QStringLiteral("Terminado!"), kApplicationTitle, MessageIcon::Information);
}

} // namespace

void ExportTerminals(ExportOperator& op, const ExportOptions& options)
{
    // A failure that is not the database's (no memory for a huge value, a fault in a library)
    // ends the run like a database error does: the connection has closed itself on the way out,
    // the old file is as it was, and the operator gets one box with the reason.
    try {
        RunSteps(op, options);
    } catch (const std::exception& error) {
        op.showMessage(QStringLiteral("Não foi possível concluir a exportação!\n") + ReasonOf(error),
                       kApplicationTitle, MessageIcon::Critical);
    }
}

} // namespace korvane
