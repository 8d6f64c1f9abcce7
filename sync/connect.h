#pragma once

#include "shell/shopwindow.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QStatusBar;

namespace velmo {

class Shop;
namespace sync {
struct Account;
}

// The connect dialog: a form that asks for the shop's FTP account, checks it and has the shop's
// connection log in with it. What the login reports (status texts, message boxes) goes to whoever
// watches the connection. Shown modally from the main menu and the FTP browser.
class TForm6 : public ShopWindow {
    Q_OBJECT
public:
    TForm6(Shop& shop, QWidget* parent = nullptr);

    QLineEdit* HostTxt = nullptr;
    QLineEdit* PortTxt = nullptr;
    QComboBox* ComboBox1 = nullptr; // host type; no action reads it
    QLineEdit* UserTxt = nullptr;
    QLineEdit* PassTxt = nullptr;
    QCheckBox* CheckBox2 = nullptr;      // "Passwort speichern"
    QCheckBox* CheckBox1 = nullptr;      // "Use Proxy Server"
    QLineEdit* Edit6 = nullptr;          // proxy server
    QLineEdit* Edit7 = nullptr;          // proxy port
    QComboBox* TlsBox = nullptr;         // "erforderlich", "wenn möglich", "aus"
    QPushButton* ForgetButton = nullptr; // forgets the trusted certificate
    QPushButton* Button1 = nullptr;      // "&Verbinden"
    QPushButton* Button2 = nullptr;      // "&Abbrechen"
    QStatusBar* StatusBar1 = nullptr;

    // Handlers, callable from tests.
    void FormShow();
    void Button1Click();
    void Button2Click();
    void ForgetButtonClick();
    // The closing step: stores the account in the settings store.
    void FormClose();

    void done(int result) override;

protected:
    void opening() override { FormShow(); }

private:
    // Logs in; a TLS failure gets its own reason instead of the plain "Verbindung nicht möglich!".
    void logIn(const sync::Account& account);
    // The fingerprint trusted for host, or empty.
    static std::string trustedFingerprint(const std::string& host);

    Shop& m_shop;
};

} // namespace velmo
