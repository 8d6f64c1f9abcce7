#include "sync/connect.h"

#include "platform/cp1252.h"
#include "platform/errors.h"
#include "platform/german.h"
#include "platform/qt/text.h"
#include "platform/settings_store.h"
#include "shell/shop.h"
#include "sync/core/shopconnection.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include <algorithm>

namespace velmo {

namespace {

const char* const kHostTypes[] = {
    "AUTO",    "Standard (UNIX)", "VM",    "BULL",   "MAC",   "TOPS20", "VMS",     "OS2",
    "MVS-IBM", "MVS-INTERLINK",   "OTHER", "TANDEM", "AS400", "OS9",    "NETWARE", ""};

// Placeholder host and user until stored values replace them.
const QString kSampleHost = QStringLiteral("ftp.example.com");

int wholeNumber(const QLineEdit* field) {
    return static_cast<int>(german::strToInt(fromQString(field->text())));
}

// The field's text in the shop's code page. A character the code page lacks would go to the server
// as "?": a password or user that can never work, so it is refused before anything is sent.
std::string codePageText(const QLineEdit* field, const char* name) {
    const QString text = field->text();
    if (!cp1252::representable(toUtf8(text)))
        throw Exception(formatMessage("Das Feld \"%s\" enthält ein Zeichen, das nicht übertragen werden "
                                      "kann; möglich sind nur Zeichen aus Windows-1252",
                                      name));
    return fromQString(text);
}

} // namespace

TForm6::TForm6(Shop& shop, QWidget* parent)
    : ShopWindow(shop.dialogs, Placement::OnOwner, parent), m_shop(shop) {
    setObjectName("Form6");
    setWindowTitle(QStringLiteral("Verbinden"));

    HostTxt = new QLineEdit(kSampleHost, this);
    PortTxt = new QLineEdit(QStringLiteral("21"), this);
    PortTxt->setMaximumWidth(60);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setEditable(true);
    for (const char* type : kHostTypes)
        ComboBox1->addItem(QString::fromUtf8(type));
    ComboBox1->setCurrentIndex(1);
    // The box's own text field is what a screen reader lands on; it carries the box's label.
    ComboBox1->lineEdit()->setAccessibleName(QStringLiteral("Host-Typ"));
    UserTxt = new QLineEdit(kSampleHost, this);
    PassTxt = new QLineEdit(this); // typed text stays readable
    CheckBox2 = new QCheckBox(QStringLiteral("Passwort speichern"), this);
    CheckBox2->setChecked(true);
    CheckBox1 = new QCheckBox(QStringLiteral("Use Proxy Server"), this);
    Edit6 = new QLineEdit(this);
    Edit7 = new QLineEdit(this);
    Edit7->setMaximumWidth(60);
    TlsBox = new QComboBox(this);
    for (TlsMode mode : sync::kTlsModes)
        TlsBox->addItem(fromUtf8(std::string(sync::tlsModeText(mode))));
    ForgetButton = new QPushButton(QStringLiteral("Zertifikat vergessen"), this);
    ForgetButton->setToolTip(QStringLiteral("Der gespeicherte Fingerabdruck des Server-Zertifikats wird "
                                            "gelöscht; beim nächsten Verbinden wird wieder gefragt"));
    Button1 = new QPushButton(QStringLiteral("&Verbinden"), this);
    Button1->setDefault(true);
    Button2 = new QPushButton(QStringLiteral("&Abbrechen"), this);
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setSizeGripEnabled(false);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Host"), HostTxt);
    auto* portRow = new QHBoxLayout;
    portRow->addWidget(PortTxt);
    portRow->addWidget(new QLabel(QStringLiteral("(meistens 21)"), this));
    portRow->addStretch();
    auto* portLabel = new QLabel(QStringLiteral("Port"), this);
    portLabel->setBuddy(PortTxt);
    form->addRow(portLabel, portRow);
    form->addRow(QStringLiteral("Host-Typ"), ComboBox1);
    form->addRow(QStringLiteral("User ID"), UserTxt);
    form->addRow(QStringLiteral("Passwort"), PassTxt);
    form->addRow(QString(), CheckBox2);
    form->addRow(QString(), CheckBox1);
    form->addRow(QStringLiteral("Proxy Server"), Edit6);
    form->addRow(QStringLiteral("Proxy Port"), Edit7);
    auto* tlsRow = new QHBoxLayout;
    tlsRow->addWidget(TlsBox);
    tlsRow->addWidget(ForgetButton);
    tlsRow->addStretch();
    auto* tlsLabel = new QLabel(QStringLiteral("Verschlüsselung (TLS)"), this);
    tlsLabel->setBuddy(TlsBox);
    form->addRow(tlsLabel, tlsRow);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(StatusBar1);
    setTabOrder(HostTxt, PortTxt);
    HostTxt->setFocus();

    connect(Button1, &QPushButton::clicked, this, guard([this] { Button1Click(); }));
    connect(Button2, &QPushButton::clicked, this, guard([this] { Button2Click(); }));
    connect(ForgetButton, &QPushButton::clicked, this, guard([this] { ForgetButtonClick(); }));
}

void TForm6::FormShow() {
    auto store = SettingsStore::open();
    if (!store)
        return;
    HostTxt->setText(fromUtf8(store->readString("Host")));
    const std::string port = store->readString("Port");
    PortTxt->setText(port.empty() ? QStringLiteral("21") : fromUtf8(port));
    UserTxt->setText(fromUtf8(store->readString("User")));
    PassTxt->setText(fromUtf8(store->readString("Pass")));
    const TlsMode tls = sync::tlsModeFromText(store->readString("TLS"), store->valueExists("Host"));
    TlsBox->setCurrentText(fromUtf8(std::string(sync::tlsModeText(tls))));
    ForgetButton->setEnabled(!store->readString("TlsFingerprint").empty());
    HostTxt->setFocus();
}

void TForm6::Button1Click() {
    // The account is read and checked before anything is sent: a bad field ends the attempt with the
    // standard error box, the dialog stays open.
    sync::Account account;
    account.useProxy = CheckBox1->isChecked();
    account.proxyPort = account.useProxy ? wholeNumber(Edit7) : 0;
    account.port = wholeNumber(PortTxt);
    account.host = codePageText(HostTxt, "Host");
    account.user = codePageText(UserTxt, "User ID");
    account.password = codePageText(PassTxt, "Passwort");
    if (account.useProxy)
        account.proxy = codePageText(Edit6, "Proxy Server");
    account.tls = sync::kTlsModes.at(static_cast<std::size_t>(std::max(0, TlsBox->currentIndex())));
    account.fingerprint = trustedFingerprint(toUtf8(HostTxt->text()));
    if (std::optional<std::string> problem = sync::accountProblem(account))
        throw Exception(*problem);
    logIn(account);
    accept();
}

void TForm6::logIn(const sync::Account& account) {
    const std::string host = toUtf8(HostTxt->text());
    // A certificate nobody vouches for is trusted only when the user says so, and then kept with
    // the account: later logins go on silently while the server shows the same one.
    auto ask = [this, host](const TlsCertificate& certificate) {
        if (!dialogs().confirm(fromUtf8(sync::certificateQuestion(certificate, host))))
            return false;
        if (auto store = SettingsStore::open()) {
            store->writeString("TlsFingerprint", certificate.sha256);
            store->writeString("TlsHost", host);
        }
        ForgetButton->setEnabled(true);
        return true;
    };
    try {
        m_shop.ShopSettings.ftpHome = toQString(m_shop.connection.connect(account, ask));
    } catch (const ETlsPinMismatch& e) {
        dialogs().showError(fromUtf8(formatMessage(
            "%s\n\nDas kann ein Angriff auf die Verbindung sein; es wurde nichts gesendet. Hat Ihr "
            "Anbieter das Zertifikat erneuert, löschen Sie den gespeicherten Fingerabdruck mit "
            "\"Zertifikat vergessen\" und verbinden Sie sich neu",
            e.what())));
    } catch (const ETlsError& e) {
        dialogs().showError(fromUtf8(e.what()));
    } catch (const std::exception&) {
        dialogs().notice(QStringLiteral("Verbindung nicht möglich!"));
    }
}

std::string TForm6::trustedFingerprint(const std::string& host) {
    auto store = SettingsStore::open();
    if (!store || store->readString("TlsHost") != host)
        return {};
    return store->readString("TlsFingerprint");
}

void TForm6::ForgetButtonClick() {
    if (auto store = SettingsStore::open()) {
        store->writeString("TlsFingerprint", "");
        store->writeString("TlsHost", "");
    }
    ForgetButton->setEnabled(false);
}

void TForm6::Button2Click() {
    reject();
}

void TForm6::done(int result) {
    guarded([this] { FormClose(); });
    ShopWindow::done(result);
}

void TForm6::FormClose() {
    auto store = SettingsStore::open();
    if (!store)
        return;
    store->writeString("Host", toUtf8(HostTxt->text()));
    store->writeString("Port", toUtf8(PortTxt->text()));
    store->writeString("User", toUtf8(UserTxt->text()));
    store->writeString("Pass", CheckBox2->isChecked() ? toUtf8(PassTxt->text()) : std::string());
    store->writeString("TLS", toUtf8(TlsBox->currentText()));
}

} // namespace velmo
