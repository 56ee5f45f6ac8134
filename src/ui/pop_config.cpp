#include "ui/pop_config.h"

#include <QEvent>
#include <QFocusEvent>
#include <QFont>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>
#include <cmath>

#include "config/layout.h"
#include "ui/icons.h"

namespace kelvaston::ui {
namespace {

using config::AccountRecord;

constexpr int kTextHeight = 285;   // a text box, in twips
constexpr int kCheckHeight = 255;  // a check box
constexpr int kToolbarHeight = 330;

// A page of the tab control. Its frames are placed by positions measured from the tab
// control's top left corner, wherever the tab control puts the page.
class KarteiPage final : public QWidget {
public:
    KarteiPage(QTabWidget* kartei) : QWidget(kartei), kartei_(kartei) {}
    void Place(QWidget* child, const QRect& inKartei) { placed_.push_back({child, inKartei}); }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        Reposition();
    }
    void moveEvent(QMoveEvent* event) override {
        QWidget::moveEvent(event);
        Reposition();
    }

private:
    void Reposition() {
        const QPoint offset = mapTo(kartei_, QPoint(0, 0));
        for (const auto& [child, rect] : placed_) child->setGeometry(rect.translated(-offset));
    }

    QTabWidget* kartei_;
    std::vector<std::pair<QWidget*, QRect>> placed_;
};

}  // namespace

CheckBox::CheckBox(const QString& text, QWidget* parent) : QCheckBox(text, parent) {}

int CheckBox::Value() const {
    switch (checkState()) {
        case Qt::Checked: return 1;
        case Qt::PartiallyChecked: return 2;
        default: return 0;
    }
}

void CheckBox::SetValue(int value) {
    setCheckState(value == 1 ? Qt::Checked : value == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
}

void CheckBox::nextCheckState() {
    setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

Picture::Picture(QIcon icon, QWidget* parent) : QWidget(parent), icon_(std::move(icon)) {}

void Picture::paintEvent(QPaintEvent* /*event*/) {
    const qreal ratio = devicePixelRatioF();
    if (pixmap_.isNull() || pixmap_.devicePixelRatio() != ratio)
        pixmap_ = icon_.pixmap(QSize(32, 32), ratio);
    QPainter painter(this);
    if (isEnabled()) {
        painter.drawPixmap(0, 0, pixmap_);
        return;
    }
    // Greyed by the style, as a label greys its picture in a disabled frame.
    QStyleOption option;
    option.initFrom(this);
    painter.drawPixmap(0, 0, style()->generatedIconPixmap(QIcon::Disabled, pixmap_, &option));
}

UpDown::UpDown(QLineEdit* buddy, int minimum, int maximum, int value, QWidget* parent)
    : QWidget(parent),
      buddy_(buddy),
      up_(new QToolButton(this)),
      down_(new QToolButton(this)),
      minimum_(minimum),
      maximum_(maximum),
      value_(value) {
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* button : {up_, down_}) {
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setIconSize(QSize(7, 7));
    }
    setFocusPolicy(Qt::TabFocus);
    connect(up_, &QToolButton::clicked, this, [this] { StepBy(1); });
    connect(down_, &QToolButton::clicked, this, [this] { StepBy(-1); });
}

void UpDown::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        StepBy(event->key() == Qt::Key_Up ? 1 : -1);
        return;
    }
    QWidget::keyPressEvent(event);
}

void UpDown::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (!hasFocus()) return;
    // With the focus the buttons leave a pixel free all round (see PlaceButtons) for a frame in
    // the colour of a selection, as a focused text box shows one.
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Highlight));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void UpDown::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    PlaceButtons();
}

void UpDown::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    PlaceButtons();
}

QItemSelectionModel::SelectionFlags NodeTree::selectionCommand(const QModelIndex& index,
                                                               const QEvent* event) const {
    const auto command = QTreeWidget::selectionCommand(index, event);
    return command.testFlag(QItemSelectionModel::Deselect) ||
                   command.testFlag(QItemSelectionModel::Toggle)
               ? QItemSelectionModel::NoUpdate
               : command;
}

void UpDown::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PlaceButtons();
}

void UpDown::PlaceButtons() {
    const QRect area = hasFocus() ? rect().adjusted(1, 1, -1, -1) : rect();
    const int half = area.height() / 2;
    up_->setGeometry(area.x(), area.y(), area.width(), half);
    down_->setGeometry(area.x(), area.y() + half, area.width(), area.height() - half);
    update();
}

void UpDown::StepBy(int steps) {
    // Start from the number in the box when it holds one, so that typing and clicking agree.
    bool ok = false;
    const double typed = QLocale().toDouble(buddy_->text(), &ok);
    if (ok && std::isfinite(typed))
        value_ = static_cast<int>(std::clamp(std::round(typed), -1e9, 1e9));
    value_ = std::clamp(value_ + steps, minimum_, maximum_);
    buddy_->setText(QString::number(value_));
}

QRect POPConfig::Twips(int left, int top, int width, int height) {
    const auto px = [](int twips) { return static_cast<int>(std::lround(twips / 15.0)); };
    return QRect(px(left), px(top), px(left + width) - px(left), px(top + height) - px(top));
}

QLabel* POPConfig::Label(QWidget* parent, const QString& text, const QRect& twips,
                         Qt::Alignment alignment) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QStringLiteral("Beschriftung_%1").arg(Beschriftung.size()));
    label->setGeometry(twips);
    label->setAlignment(alignment);
    Beschriftung.push_back(label);
    return label;
}

QLineEdit* POPConfig::TextBox(QWidget* parent, const QRect& twips, AccountField shows) {
    auto* box = new QLineEdit(parent);
    box->setGeometry(twips);
    if (shows != nullptr) accountControls_.emplace_back(shows, box);
    return box;
}

CheckBox* POPConfig::Check(QWidget* parent, const QString& text, const QRect& twips,
                           AccountField shows) {
    auto* box = new CheckBox(text, parent);
    box->setGeometry(twips);
    if (shows != nullptr) accountControls_.emplace_back(shows, box);
    return box;
}

QWidget* POPConfig::AccountControl(AccountField field) const {
    for (const auto& [shows, control] : accountControls_) {
        if (shows == field) return control;
    }
    return nullptr;
}

void POPConfig::CheckAccountControls() {
    std::size_t shown = 0;
    for (const auto& value : config::layout::kAccountValues) {
        const bool hasControl = AccountControl(value.field) != nullptr;
        if (hasControl != (value.templateText != nullptr)) {
            qFatal("The account value \"%s\" and the account page disagree on its control.",
                   value.name);
        }
        if (hasControl) ++shown;
    }
    if (shown != accountControls_.size())
        qFatal("The account page shows a value twice or one it has no row for.");
    // Nothing of an account is shown before an account is selected.
    for (const auto& [field, control] : accountControls_) control->setEnabled(false);
}

QGroupBox* POPConfig::Frame(QWidget* page, int index, const QString& title, int top, int height) {
    auto* frame = new QGroupBox(title, page);
    frame->setObjectName(QStringLiteral("Rahmen_%1").arg(index));
    static_cast<KarteiPage*>(page)->Place(frame, Twips(180, top, 7155, height));
    Rahmen[static_cast<std::size_t>(index)] = frame;
    return frame;
}

void POPConfig::MakeToolbar(toolbar::Index index, QWidget* parent, const QString& caption,
                            Image picture, const QRect& twips) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QStringLiteral("Symbolleiste_%1").arg(static_cast<int>(index)));
    button->setText(caption);
    button->setIcon(ImageListPicture(picture));
    button->setIconSize(QSize(16, 16));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(false);
    button->setGeometry(twips);
    connect(button, &QToolButton::clicked, this, [this, index] { emit ToolbarClicked(index); });
    Symbolleiste[static_cast<std::size_t>(index)] = button;
}

POPConfig::POPConfig(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("POPConfig"));
    setWindowTitle(QStringLiteral("Kelvaston"));
    setWindowIcon(WindowIcon());
    QFont tahoma(QStringLiteral("Tahoma"), 9);
#ifdef _WIN32
    // The captions' boxes fit Tahoma's own widths, with which Linux draws it (hinted vertically
    // only). Windows' default rounds each letter to whole pixels, and a dozen captions come out
    // 1 to 6 pixels wider than their boxes; asked for this, Qt draws with the widths as designed.
    tahoma.setHintingPreference(QFont::PreferVerticalHinting);
#endif
    setFont(tahoma);
    const QRect client = Twips(0, 0, 10275, 6780);
    setFixedSize(client.size());

    Label(this, QStringLiteral("Verbindungen :"), Twips(120, 180, 1275, 210));
    GlobalList = new NodeTree(this);
    GlobalList->setObjectName(QStringLiteral("GlobalList"));
    GlobalList->setGeometry(Twips(60, 420, 2535, 4155));
    GlobalList->setHeaderHidden(true);
    GlobalList->setColumnCount(1);
    GlobalList->setSortingEnabled(false);
    GlobalList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    GlobalList->setSelectionMode(QAbstractItemView::SingleSelection);
    GlobalList->setIconSize(QSize(16, 16));
    GlobalList->setRootIsDecorated(true);
    GlobalList->setUniformRowHeights(true);
    GlobalList->viewport()->installEventFilter(this);
    connect(GlobalList, &QTreeWidget::itemSelectionChanged, this, [this] {
        if (quiet_ == 0 && !mouseDown_) emit TreeSelectionMovedByKey();
    });

    MakeToolbar(toolbar::NewConnection, this, QStringLiteral("Neue &Verbindung"), Image::Connection,
                Twips(60, 4620, 2535, kToolbarHeight));
    MakeToolbar(toolbar::NewAccount, this, QStringLiteral("Neuer &Account"), Image::Account,
                Twips(60, 4980, 2535, kToolbarHeight));
    MakeToolbar(toolbar::CopyAccount, this, QStringLiteral("Account &kopieren"), Image::CopyAccount,
                Twips(60, 5340, 2535, kToolbarHeight));
    MakeToolbar(toolbar::RemoveConnection, this, QStringLiteral("Verbindung &löschen"),
                Image::Delete, Twips(60, 5700, 2535, kToolbarHeight));
    MakeToolbar(toolbar::RemoveAccount, this, QStringLiteral("Accou&nt löschen"), Image::Delete,
                Twips(60, 6060, 2535, kToolbarHeight));
    MakeToolbar(toolbar::ReadSettingsAgain, this, QStringLiteral("&Einstellungen einlesen"),
                Image::ReadSettings, Twips(2700, 6060, 2355, kToolbarHeight));
    MakeToolbar(toolbar::Save, this, QStringLiteral("Einstellungen &speichern"),
                Image::SaveSettings, Twips(5100, 6060, 2535, kToolbarHeight));
    MakeToolbar(toolbar::Exit, this, QStringLiteral("&Beenden"), Image::Quit,
                Twips(8940, 6060, 1275, kToolbarHeight));

    Kartei = new QTabWidget(this);
    Kartei->setObjectName(QStringLiteral("Kartei"));
    Kartei->setGeometry(Twips(2700, 60, 7515, 5955));
    auto* global = new KarteiPage(Kartei);
    auto* connection = new KarteiPage(Kartei);
    auto* ticker = new KarteiPage(Kartei);
    Kartei->addTab(global, QStringLiteral("Global"));
    Kartei->addTab(connection, QStringLiteral("Verbindungen / Accounts"));
    Kartei->addTab(ticker, QStringLiteral("Newsticker"));
    BuildGlobalPage(global);
    BuildConnectionPage(connection);
    BuildTickerPage(ticker);
    CheckAccountControls();
    Kartei->setCurrentIndex(0);

    Status = new QStatusBar(this);
    Status->setObjectName(QStringLiteral("Status"));
    Status->setSizeGripEnabled(false);
    Status->setGeometry(Twips(0, 6405, 10275, 375));
    StatusText = new QLabel(Status);
    Status->addWidget(StatusText, 1);

    ConnectRules();
    SetTabOrder();
    GlobalList->setFocus();
}

void POPConfig::BuildGlobalPage(QWidget* page) {
    QGroupBox* computer = Frame(page, 0, QStringLiteral("Rechner"), 420, 1095);
    Bild[0] = new Picture(FrameIcon(FrameImage::Computer), computer);
    Bild[0]->setGeometry(Twips(120, 300, 480, 480));
    OptionComputerLocal =
        Check(computer, QStringLiteral("lokaler Rechner"), Twips(720, 465, 1650, kCheckHeight));
    OptionComputerLocal->setCheckState(Qt::Checked);
    OptionComputerLocal->setToolTip(
        QStringLiteral("Dienst auf lokalem Rechner verwalten, oder Remoteverbindung"));
    GlobalComputerName = TextBox(computer, Twips(2400, 450, 2340, kTextHeight));
    GlobalComputerName->setEnabled(false);
    GlobalComputerName->setToolTip(QStringLiteral("zu verwaltender Rechner"));
    MakeToolbar(toolbar::ChooseComputer, computer, QStringLiteral("Rechner auswählen"),
                Image::ChooseComputer, Twips(4860, 420, 2055, kToolbarHeight));
    Symbolleiste[toolbar::ChooseComputer]->setEnabled(false);

    QGroupBox* settings = Frame(page, 1, QStringLiteral("globale Einstellungen"), 1680, 4095);
    Bild[1] = new Picture(FrameIcon(FrameImage::PlugWithGear), settings);
    Bild[1]->setGeometry(Twips(120, 300, 480, 480));
    const auto row = [&](int top, const QString& label, int width) {
        Label(settings, label, Twips(660, top, 2040, kTextHeight),
              Qt::AlignRight | Qt::AlignVCenter);
        return TextBox(settings, Twips(2760, top, width, kTextHeight));
    };
    GlobalTriggerPort = row(360, QStringLiteral("Port für UDP Messages :"), 1215);
    GlobalTriggerPort->setToolTip(
        QStringLiteral("Port auf dem UDP-Steuerpackete empfangen werden"));
    GlobalProxyPort = row(750, QStringLiteral("Proxy Port :"), 1215);
    GlobalProxyHost = row(1140, QStringLiteral("Proxy Host :"), 4095);
    GlobalDebugLevel = row(1530, QStringLiteral("Protokoll Level :"), 285);
    GlobalDebugLevel->setText(QStringLiteral("0"));
    GlobalDebugLevel->setAlignment(Qt::AlignRight);
    GlobalDebugLevel->setToolTip(QStringLiteral("Level der Protokollierung"));
    GlobalDebugLevelUpDown = new UpDown(GlobalDebugLevel, 0, 9, 0, settings);
    GlobalDebugLevelUpDown->setObjectName(QStringLiteral("GlobalDebugLevelUpDown"));
    GlobalDebugLevelUpDown->setGeometry(Twips(3045, 1530, 240, kTextHeight));
    GlobalListenRAS = Check(settings, QStringLiteral("RAS-Verbindung benutzen"),
                            Twips(2760, 1935, 3000, kCheckHeight));
    auto* note =
        Label(settings,
              QStringLiteral(
                  "Wenn Sie RAS Verbindungen benutzen möchten muß die Verbindung den selben Namen "
                  "haben, wie der RAS-Eintrag. Öffnet sich die RAS Verbindung werden die Accounts "
                  "in der Verbindung abgeholt und zugestellt. Möchten Sie kein RAS benutzen "
                  "verweden Sie die Verbindung 'NoRAS' um über Standleitung Mails zu bekommen."),
              Twips(300, 2460, 6615, 1095), Qt::AlignLeft | Qt::AlignTop);
    note->setWordWrap(true);
}

void POPConfig::BuildConnectionPage(QWidget* page) {
    QGroupBox* connection = Frame(page, 2, QStringLiteral("Verbindung"), 420, 1215);
    Bild[2] = new Picture(FrameIcon(FrameImage::Connection), connection);
    Bild[2]->setGeometry(Twips(120, 300, 480, 480));
    Label(connection, QStringLiteral("Name :"), Twips(660, 390, 630, kTextHeight));
    ConnectionName = TextBox(connection, Twips(1320, 390, 1155, kTextHeight));
    ConnectionName->setEnabled(false);
    MakeToolbar(toolbar::RenameConnection, connection, QStringLiteral("Umbenennen"),
                Image::Connection, Twips(2940, 360, 1695, kToolbarHeight));
    ConnectionEnableLogging = Check(connection, QStringLiteral("&Protokollierung aktivieren"),
                                    Twips(4695, 405, 2430, kCheckHeight));
    Label(connection, QStringLiteral("Intervall in dem Nachrichten abgeholt werden :"),
          Twips(720, 810, 3840, kTextHeight));
    ConnectionTimeOut = TextBox(connection, Twips(4620, 810, 585, kTextHeight));
    ConnectionTimeOut->setAlignment(Qt::AlignRight);
    ConnectionTimeOutUpDown = new UpDown(ConnectionTimeOut, 1, 9999, 1, connection);
    ConnectionTimeOutUpDown->setObjectName(QStringLiteral("ConnectionTimeOutUpDown"));
    ConnectionTimeOutUpDown->setGeometry(Twips(5205, 810, 240, kTextHeight));
    QLabel* minutes =
        Label(connection, QStringLiteral("(min)"), Twips(5520, 810, 600, kTextHeight));
    QFont small = minutes->font();
    small.setPointSizeF(8.25);
    minutes->setFont(small);

    QGroupBox* account = Frame(page, 3, QStringLiteral("  "), 1800, 3975);
    AccountEnableAccount = Check(account, QStringLiteral("Account aktivieren"),
                                 Twips(120, 0, 1890, kCheckHeight), &AccountRecord::EnableAccount);
    AccountEnableAccount->setAutoFillBackground(true);
    Bild[3] = new Picture(FrameIcon(FrameImage::Account), account);
    Bild[3]->setGeometry(Twips(120, 300, 480, 480));
    Bild[4] = new Picture(FrameIcon(FrameImage::Hourglass), account);
    Bild[4]->setGeometry(Twips(120, 3120, 480, 480));
    const auto label = [&](const QString& text, int left, int top, int width) {
        Label(account, text, Twips(left, top, width, kTextHeight),
              Qt::AlignRight | Qt::AlignVCenter);
    };
    label(QStringLiteral("POP Host :"), 480, 330, 1260);
    AccountPOPHost = TextBox(account, Twips(1800, 330, 4935, kTextHeight), &AccountRecord::POPHost);
    label(QStringLiteral("Benutzer :"), 480, 690, 1260);
    AccountPOPUser = TextBox(account, Twips(1800, 690, 2235, kTextHeight), &AccountRecord::POPUser);
    label(QStringLiteral("Passwort :"), 4080, 690, 960);
    AccountPOPPasswort =
        TextBox(account, Twips(5100, 690, 1635, kTextHeight), &AccountRecord::POPPasswort);
    AccountPOPPasswort->setEchoMode(QLineEdit::Password);
    AccountPOPDelete = Check(account, QStringLiteral("Nachrichten nach Übertragung löschen"),
                             Twips(720, 1065, 3540, kCheckHeight), &AccountRecord::POPDelete);
    label(QStringLiteral("max. Mails pro Thread :"), 4320, 1050, 2220);
    AccountMaxMails =
        TextBox(account, Twips(6600, 1050, 315, kTextHeight), &AccountRecord::MaxMails);
    AccountMaxMails->setAlignment(Qt::AlignHCenter);
    AccountLine[0] = new QFrame(account);
    AccountLine[0]->setFrameShape(QFrame::HLine);
    AccountLine[0]->setFrameShadow(QFrame::Sunken);
    AccountLine[0]->setGeometry(Twips(300, 1410, 6600, 30));
    label(QStringLiteral("SMTP Host :"), 480, 1530, 1260);
    AccountSMTPHost =
        TextBox(account, Twips(1800, 1530, 3495, kTextHeight), &AccountRecord::SMTPHost);
    label(QStringLiteral("Adress Modus :"), 5310, 1530, 1245);
    AccountAddressMode =
        TextBox(account, Twips(6600, 1530, 315, kTextHeight), &AccountRecord::AddressMode);
    AccountAddressMode->setAlignment(Qt::AlignHCenter);
    label(QStringLiteral("From Adresse :"), 480, 1890, 1260);
    AccountSMTPFrom =
        TextBox(account, Twips(1800, 1890, 2055, kTextHeight), &AccountRecord::SMTPFrom);
    label(QStringLiteral("To Adresse :"), 3900, 1890, 1020);
    AccountSMTPTo = TextBox(account, Twips(4980, 1890, 2055, kTextHeight), &AccountRecord::SMTPTo);
    MakeToolbar(toolbar::InsertTemplate, account, QStringLiteral("Template"), Image::Template,
                Twips(300, 2460, 1275, kToolbarHeight));
    AccountEnableUDP =
        Check(account, QStringLiteral("Benachrichtigung über UDP-Broadcast auf Port :"),
              Twips(1680, 2490, 4260, kCheckHeight), &AccountRecord::EnableUDP);
    AccountUDPPort =
        TextBox(account, Twips(5955, 2475, 1035, kTextHeight), &AccountRecord::UDPPort);
    AccountUDPPort->setAlignment(Qt::AlignHCenter);
    AccountEnableFromUDP =
        Check(account, QStringLiteral("erw. Benachrichtigung über UDP (Angabe des Absenders)"),
              Twips(1680, 2850, 5160, kCheckHeight), &AccountRecord::EnableFromUDP);
    AccountLine[1] = new QFrame(account);
    AccountLine[1]->setFrameShape(QFrame::HLine);
    AccountLine[1]->setFrameShadow(QFrame::Sunken);
    AccountLine[1]->setGeometry(Twips(300, 3180, 6600, 30));
    AccountEnableCommand =
        Check(account, QStringLiteral("Befehl ausführen :"), Twips(720, 3300, 1860, kCheckHeight),
              &AccountRecord::EnableCommand);
    AccountCommand =
        TextBox(account, Twips(2640, 3285, 4095, kTextHeight), &AccountRecord::Command);
    label(QStringLiteral("Protokollpfad (lokal auf Server) :"), 600, 3645, 2760);
    AccountLogFile =
        TextBox(account, Twips(3420, 3645, 3315, kTextHeight), &AccountRecord::LogFile);
}

void POPConfig::BuildTickerPage(QWidget* page) {
    QGroupBox* ticker = Frame(page, 4, QStringLiteral("    "), 420, 1935);
    AccountEnableWissenschaft =
        Check(ticker, QStringLiteral("Newsticker aktivieren"), Twips(120, 0, 2130, kCheckHeight),
              &AccountRecord::EnableWissenschaft);
    AccountEnableWissenschaft->setAutoFillBackground(true);
    Bild[5] = new Picture(FrameIcon(FrameImage::FlagAndGlobe), ticker);
    Bild[5]->setGeometry(Twips(120, 300, 480, 480));
    const auto label = [&](const QString& text, int top) {
        Label(ticker, text, Twips(480, top, 1980, kTextHeight), Qt::AlignRight | Qt::AlignVCenter);
    };
    label(QStringLiteral("Adress Modus :"), 420);
    AccountAddressModeTicker =
        TextBox(ticker, Twips(2520, 420, 315, kTextHeight), &AccountRecord::AddressModeTicker);
    label(QStringLiteral("Pfad für HTML-Seiten :"), 840);
    GlobalBDWDir = TextBox(ticker, Twips(2520, 840, 4455, kTextHeight));
    label(QStringLiteral("Adresse für Newsticker :"), 1260);
    GlobalTickerEMail = TextBox(ticker, Twips(2520, 1260, 4455, kTextHeight));

    // The frames' pictures by their names; those of the connection and account frames show the
    // pictures of their tree nodes.
    for (std::size_t i = 0; i < Bild.size(); ++i)
        Bild[i]->setObjectName(QStringLiteral("Bild_%1").arg(i));
}

void POPConfig::ConnectRules() {
    // Each rule sets one control's enabled state from its check box whenever the box's value
    // changes, by the user or by the program.
    connect(AccountEnableAccount, &QCheckBox::stateChanged, this,
            [this](int state) { Rahmen[3]->setEnabled(state != Qt::Unchecked); });
    connect(AccountEnableCommand, &QCheckBox::stateChanged, this,
            [this](int state) { AccountCommand->setEnabled(state != Qt::Unchecked); });
    connect(ConnectionEnableLogging, &QCheckBox::stateChanged, this,
            [this](int state) { AccountLogFile->setEnabled(state != Qt::Unchecked); });
    connect(OptionComputerLocal, &QCheckBox::stateChanged, this,
            [this] { emit OptionComputerLocalClicked(); });
}

void POPConfig::SetTabOrder() {
    using namespace toolbar;
    const auto& button = Symbolleiste;
    const std::vector<QWidget*> order = {GlobalList,
                                         OptionComputerLocal,
                                         GlobalComputerName,
                                         GlobalTriggerPort,
                                         GlobalProxyPort,
                                         GlobalProxyHost,
                                         GlobalDebugLevel,
                                         GlobalDebugLevelUpDown,
                                         ConnectionName,
                                         button[RenameConnection],
                                         ConnectionEnableLogging,
                                         ConnectionTimeOut,
                                         ConnectionTimeOutUpDown,
                                         AccountEnableAccount,
                                         AccountPOPHost,
                                         AccountPOPUser,
                                         AccountPOPPasswort,
                                         AccountPOPDelete,
                                         AccountMaxMails,
                                         AccountSMTPHost,
                                         AccountAddressMode,
                                         AccountSMTPFrom,
                                         AccountSMTPTo,
                                         AccountEnableUDP,
                                         AccountUDPPort,
                                         AccountEnableCommand,
                                         AccountCommand,
                                         AccountLogFile,
                                         AccountEnableWissenschaft,
                                         AccountAddressModeTicker,
                                         GlobalBDWDir,
                                         GlobalTickerEMail,
                                         button[NewConnection],
                                         button[NewAccount],
                                         button[CopyAccount],
                                         button[RemoveConnection],
                                         button[RemoveAccount],
                                         button[ReadSettingsAgain],
                                         button[Save],
                                         button[Exit],
                                         AccountEnableFromUDP,
                                         GlobalListenRAS,
                                         Kartei,
                                         button[ChooseComputer],
                                         button[InsertTemplate]};
    for (QWidget* widget : order) {
        if (widget->focusPolicy() == Qt::NoFocus) widget->setFocusPolicy(Qt::TabFocus);
    }
    for (std::size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
}

QTreeWidgetItem* POPConfig::SelectedNode() const {
    const auto selected = GlobalList->selectedItems();
    return selected.isEmpty() ? nullptr : selected.front();
}

void POPConfig::SelectNodeQuietly(QTreeWidgetItem* node) {
    ++quiet_;
    GlobalList->setCurrentItem(node);
    --quiet_;
}

void POPConfig::ClearTreeQuietly() {
    ++quiet_;
    GlobalList->clear();
    --quiet_;
}

void POPConfig::SetStatus(const QString& text) {
    StatusText->setText(text);
}

QString POPConfig::StatusMessage() const {
    return StatusText->text();
}

bool POPConfig::eventFilter(QObject* watched, QEvent* event) {
    if (watched == GlobalList->viewport()) {
        // The press comes before the tree moves its selection, the release after it.
        if (event->type() == QEvent::MouseButtonPress ||
            event->type() == QEvent::MouseButtonDblClick) {
            mouseDown_ = true;
            emit TreePressed();
        } else if (event->type() == QEvent::MouseButtonRelease) {
            mouseDown_ = false;
            emit TreeReleased();
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace kelvaston::ui
