#include "sync/connect.h"

#include "platform/german.h"
#include "platform/qt/text.h"
#include "platform/settings_store.h"
#include "shell/shop.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

namespace velmo {

namespace {

// The texts of OnSuccess, OnFailure and OnUnSupportedFunction by command type. The types the client
// never reports, and the directory query, show nothing.
struct CommandTexts {
    const char* success;
    const char* failure;
    const char* unsupported;
};

CommandTexts commandTexts(TCmdType type) {
    switch (type) {
    case CmdChangeDir:
        return {"ChangeDir success", "ChangeDir failure", "ChangeDir unsupported"};
    case CmdMakeDir:
        return {"MakeDir success", "MakeDir failure", "MakeDir unsupported"};
    case CmdDelete:
        return {"Delete success", "Delete failure", "Delete unsupported"};
    case CmdRemoveDir:
        return {"RemoveDir success", "RemoveDir failure", "RemoveDir unsupported"};
    case CmdList:
        return {"List success", "List failure", "List unsupported"};
    case CmdUpload:
        return {"success", "failure", "Upload unsupported"};
    case CmdNList:
        return {"NList success", "NList failure", "NList unsupported"};
    case CmdDoCommand:
        return {"DoCommand success", "DoCommand failure", "DoCommand unsupported"};
    default:
        return {nullptr, nullptr, nullptr};
    }
}

const char* const kHostTypes[] = {
    "AUTO",    "Standard (UNIX)", "VM",    "BULL",   "MAC",   "TOPS20", "VMS",     "OS2",
    "MVS-IBM", "MVS-INTERLINK",   "OTHER", "TANDEM", "AS400", "OS9",    "NETWARE", ""};

// Placeholder host and user until stored values replace them.
const QString kSampleHost = QStringLiteral("ftp.example.com");

int wholeNumber(const QLineEdit* field) {
    return static_cast<int>(german::strToInt(fromQString(field->text())));
}

} // namespace

TForm6::TForm6(Shop& shop, StatusLine& status, QWidget* parent)
    : ShopWindow(shop.dialogs, Placement::OnOwner, parent), m_shop(shop), m_status(status) {
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
    UserTxt = new QLineEdit(kSampleHost, this);
    PassTxt = new QLineEdit(this); // typed text stays readable
    CheckBox2 = new QCheckBox(QStringLiteral("Passwort speichern"), this);
    CheckBox2->setChecked(true);
    CheckBox1 = new QCheckBox(QStringLiteral("Use Proxy Server"), this);
    Edit6 = new QLineEdit(this);
    Edit7 = new QLineEdit(this);
    Edit7->setMaximumWidth(60);
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
    form->addRow(QStringLiteral("Port"), portRow);
    form->addRow(QStringLiteral("Host-Typ"), ComboBox1);
    form->addRow(QStringLiteral("User ID"), UserTxt);
    form->addRow(QStringLiteral("Passwort"), PassTxt);
    form->addRow(QString(), CheckBox2);
    form->addRow(QString(), CheckBox1);
    form->addRow(QStringLiteral("Proxy Server"), Edit6);
    form->addRow(QStringLiteral("Proxy Port"), Edit7);
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

    TFtpClient& ftp = m_shop.ftp;
    ftp.Port = 21;
    ftp.Vendor = VendorUnknown;
    ftp.ParseList = false;
    ftp.Proxy.clear();
    ftp.ProxyPort = 0;
    ftp.Passive = false;
    ftp.FirewallType = FTUser;
    ftp.FWAuthenticate = false;
    installHandlers();
}

TForm6::~TForm6() {
    TFtpClient& ftp = m_shop.ftp;
    ftp.OnConnect = ftp.OnDisconnect = ftp.OnConnectionFailed = ftp.OnTransactionStart =
        ftp.OnTransactionStop = ftp.OnPacketRecvd = ftp.OnPacketSent = nullptr;
    ftp.OnHostResolved = nullptr;
    ftp.OnInvalidHost = nullptr;
    ftp.OnError = nullptr;
    ftp.OnSuccess = nullptr;
    ftp.OnFailure = nullptr;
    ftp.OnUnSupportedFunction = nullptr;
    ftp.OnListItem = nullptr;
}

void TForm6::installHandlers() {
    TFtpClient& ftp = m_shop.ftp;
    Shop& shop = m_shop;
    StatusLine& status = m_status;
    DialogSeam& seam = dialogs();
    auto text = [](const char* s) { return QString::fromUtf8(s); };

    ftp.OnConnect = [&shop, &status](TSockSession&) {
        status.setStatusText(QStringLiteral("Connected"));
        shop.ftpConnected = true;
    };
    ftp.OnDisconnect = [&shop, &status](TSockSession&) {
        status.setStatusText(QStringLiteral("Disconnected"));
        shop.ftpConnected = false;
    };
    ftp.OnConnectionFailed = [&shop, &seam](TSockSession&) {
        seam.showMessage(QStringLiteral("Connection Failed"));
        shop.ftpConnected = false;
    };
    ftp.OnHostResolved = [&status](TSockSession&) { status.setStatusText(QStringLiteral("Host resolved")); };
    ftp.OnInvalidHost = [&seam](TSockSession&, bool&) { seam.showMessage(QStringLiteral("Invalid Host")); };
    ftp.OnStatus = nullptr;
    ftp.OnError = [&seam](TSockSession&, std::uint16_t number, const std::string& message) {
        seam.showMessage(QStringLiteral("Error %1: %2").arg(number).arg(fromUtf8(message)));
    };
    ftp.OnTransactionStart = [&status, &ftp](TSockSession&) {
        status.setStatusText(QStringLiteral("Beginning Data Transfer"));
        status.showProgress(0, ftp.BytesTotal());
    };
    ftp.OnTransactionStop = [&status](TSockSession&) {
        status.setStatusText(QStringLiteral("Data Transfer Complete"));
        status.hideProgress();
    };
    ftp.OnPacketRecvd = [&status, &ftp](TSockSession&) {
        status.setStatusText(QStringLiteral("%1 of %2").arg(ftp.BytesRecvd()).arg(ftp.BytesTotal()));
        status.showProgress(ftp.BytesRecvd(), ftp.BytesTotal());
    };
    ftp.OnPacketSent = [&status, &ftp](TSockSession&) {
        status.setStatusText(QStringLiteral("%1 of %2").arg(ftp.BytesSent()).arg(ftp.BytesTotal()));
        status.showProgress(ftp.BytesSent(), ftp.BytesTotal());
    };
    ftp.OnSuccess = [&status, text](TSockSession&, TCmdType type) {
        if (const char* s = commandTexts(type).success)
            status.setStatusText(text(s));
    };
    ftp.OnFailure = [&status, text](TSockSession&, bool&, TCmdType type) {
        // Handled stays false: the client goes on to raise its error.
        if (const char* s = commandTexts(type).failure)
            status.setStatusText(text(s));
    };
    ftp.OnUnSupportedFunction = [&seam, text](TSockSession&, TCmdType type) {
        if (const char* s = commandTexts(type).unsupported)
            seam.showMessage(text(s));
    };
    ftp.OnListItem = [&shop](TSockSession&, const std::string& line) { shop.ListingLines.push_back(line); };
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
    HostTxt->setFocus();
}

void TForm6::Button1Click() {
    // Both numbers are read before anything changes: a bad one ends the attempt with the standard
    // error box, the dialog stays open and nothing is sent.
    const bool useProxy = CheckBox1->isChecked();
    const int proxyPort = useProxy ? wholeNumber(Edit7) : 0;
    const int port = wholeNumber(PortTxt);

    TFtpClient& ftp = m_shop.ftp;
    if (useProxy) {
        ftp.Proxy = fromQString(Edit6->text());
        ftp.ProxyPort = proxyPort;
    }
    ftp.Host = fromQString(HostTxt->text());
    ftp.Port = port;
    ftp.TimeOut = 5000;
    ftp.UserID = fromQString(UserTxt->text());
    ftp.Password = fromQString(PassTxt->text());
    ftp.Vendor = VendorUnknown;

    m_shop.ftpConnected = true;
    try {
        ftp.Connect();
        m_shop.ShopSettings.ftpHome = toQString(ftp.CurrentDir());
    } catch (const std::exception&) {
        m_shop.ftpConnected = false;
        dialogs().showMessage(QStringLiteral("Verbindung nicht möglich!"));
    }
    accept();
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
}

} // namespace velmo
