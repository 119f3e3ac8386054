#include "app/frmKorvane.h"

#include "app/Fields.h"
#include "app/FileChooser.h"
#include "app/GuiThreadOperator.h"
#include "app/InputGate.h"
#include "app/MessageBoxes.h"
#include "app/RunThread.h"
#include "app/WindowOperator.h"
#include "export/ExportTerminals.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include <exception>

namespace korvane {

namespace {

const QString kWindowTitle = QStringLiteral("Informações Terminais NAC 3000");
const QString kChooserTitle = QStringLiteral("Indique a Localização do Ficheiro a Gravar:");
const QString kChooserFilter = QStringLiteral("Ficheiros XML (*.xml)");

constexpr QSize kClientSize{507, 172};

// Creates a child at its place in the window (pixels of the client area) under its control name.
template <typename Widget>
Widget* place(QWidget* window, const char* name, const QRect& geometry)
{
    auto* widget = new Widget(window);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

// The labels keep their width whatever the font; where the default font is wider than the one the
// layout was drawn for, a label steps its own font down until its text fits rather than lose the end.
QLabel* placeLabel(QWidget* window, const char* name, const QString& text, int top)
{
    auto* label = place<QLabel>(window, name, QRect(8, top, 161, 17));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setText(text);
    QFont font = label->font();
    constexpr qreal kSmallestPointSize = 6.0;
    while (QFontMetrics(font).horizontalAdvance(text) > label->width() && font.pointSizeF() > kSmallestPointSize)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    if (font != label->font())
        label->setFont(font);
    return label;
}

QPushButton* placeButton(QWidget* window, const char* name, const QString& text, const QRect& geometry)
{
    auto* button = place<QPushButton>(window, name, geometry);
    button->setText(text);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

// Ends the program where it stands: the event loop returns and nothing more of the window runs.
// A run still going ends with the process as soon as the window does (see RunThread).
void endProgram()
{
    QCoreApplication::exit(0);
}

} // namespace

// What a run holds on the window's side for as long as it goes.
struct frmKorvane::RunInProgress {
    RunInProgress(frmKorvane& window, const WindowFields& fields, MessageBoxes& boxes)
        : windowSide(window, fields, boxes)
        , runSide(windowSide)
    {
    }

    WaitCursor waitCursor;
    WindowOperator windowSide;
    GuiThreadOperator runSide;
};

frmKorvane::frmKorvane(MessageBoxes& boxes, FileChooser& chooser, ExportRun run)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint)
    , m_boxes(boxes)
    , m_chooser(chooser)
    , m_run(run ? std::move(run) : ExportRun([](ExportOperator& op) { ExportTerminals(op); }))
{
    setObjectName(QStringLiteral("frmKorvane"));
    setWindowTitle(kWindowTitle);
    QIcon icon;
    icon.addFile(QStringLiteral(":/korvane/icons/korvane-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/korvane/icons/korvane-32.png"), QSize(32, 32));
    setWindowIcon(icon);
    setFixedSize(kClientSize);

    // Created in tab order, so that Tab from the last control comes back to the first.
    m_txtServer = place<CredentialField>(this, "txtServer", QRect(168, 24, 153, 21));
    m_txtLogin = place<CredentialField>(this, "txtLogin", QRect(168, 48, 153, 21));
    m_txtPassword = place<CredentialField>(this, "txtPassword", QRect(168, 72, 153, 21));
    m_txtFilePath = place<PathField>(this, "txtFilePath", QRect(168, 104, 305, 21));
    m_cmdExportar = placeButton(this, "cmdExportar", QStringLiteral("&Exportar"), QRect(312, 136, 89, 25));
    m_cmdFechar = placeButton(this, "cmdFechar", QStringLiteral("&Fechar"), QRect(408, 136, 89, 25));
    m_cmdPesqPath = placeButton(this, "cmdPesqPath", QStringLiteral("..."), QRect(472, 104, 25, 21));
    setTabOrder(m_txtServer, m_txtLogin);
    setTabOrder(m_txtLogin, m_txtPassword);
    setTabOrder(m_txtPassword, m_txtFilePath);
    setTabOrder(m_txtFilePath, m_cmdExportar);
    setTabOrder(m_cmdExportar, m_cmdFechar);
    setTabOrder(m_cmdFechar, m_cmdPesqPath);

    placeLabel(this, "Label1", QStringLiteral("Servidor Brellwick / Marrowfen :"), 24);
    placeLabel(this, "Label2", QStringLiteral("Login :"), 48);
    placeLabel(this, "Label3", QStringLiteral("Password :"), 72);
    placeLabel(this, "Label4", QStringLiteral("Caminho dos Ficheiros :"), 104);

    m_txtPassword->setEchoMode(QLineEdit::Password);
    // The platform's mask character may be a bullet; this program shows "*".
    m_txtPassword->setStyleSheet(
        QStringLiteral("QLineEdit { lineedit-password-character: 42; lineedit-password-mask-delay: 0; }"));
    // Composition would show the typed characters in the input method's window.
    m_txtPassword->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    m_txtPassword->setAttribute(Qt::WA_InputMethodEnabled, false);

    m_inputGate = new InputGate({m_txtServer, m_txtLogin, m_txtPassword, m_txtFilePath, m_cmdExportar, m_cmdPesqPath},
                                this);
    m_runThread = std::make_unique<RunThread>();
    connect(m_runThread.get(), &RunThread::finished, this, &frmKorvane::exportEnded);

    connect(m_cmdExportar, &QPushButton::clicked, this, &frmKorvane::cmdExportar_Click);
    connect(m_cmdFechar, &QPushButton::clicked, this, &frmKorvane::cmdFechar_Click);
    connect(m_cmdPesqPath, &QPushButton::clicked, this, &frmKorvane::cmdPesqPath_Click);

    m_txtServer->setFocus(Qt::OtherFocusReason);
}

// Any request to close (the close box, Alt+F4, the session ending) ends the program, unasked.
void frmKorvane::closeEvent(QCloseEvent* event)
{
    event->accept();
    endProgram();
}

frmKorvane::~frmKorvane() = default;

bool frmKorvane::exportInProgress() const
{
    return m_runThread->isRunning();
}

void frmKorvane::cmdExportar_Click()
{
    if (m_runThread->isRunning())
        return;
    m_runInProgress = std::make_unique<RunInProgress>(
        *this, WindowFields{*m_txtServer, *m_txtLogin, *m_txtPassword, *m_txtFilePath}, m_boxes);
    m_inputGate->shut();
    m_runThread->start([run = m_run, &op = m_runInProgress->runSide] { run(op); });
}

void frmKorvane::exportEnded()
{
    m_inputGate->open();
    m_runInProgress.reset();
}

void frmKorvane::cmdFechar_Click()
{
    endProgram();
}

// Cancel and every failure alike leave an empty path and the focus where it was, without a word.
void frmKorvane::cmdPesqPath_Click()
{
    std::optional<QString> chosen;
    try {
        chosen = m_chooser.chooseSaveFile(*this, kChooserTitle, kChooserFilter);
    } catch (const std::exception&) {
        chosen.reset();
    }
    if (!chosen) {
        m_txtFilePath->clear();
        return;
    }
    m_txtFilePath->setText(*chosen);
    m_txtFilePath->setFocus(Qt::OtherFocusReason);
}

} // namespace korvane
