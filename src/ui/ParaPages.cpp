#include "ParaPages.h"
#include "WholeScreen.h"

#include "CNT_Net.h"
#include "CameraSet.h"
#include "DiVeZoruzo.h"
#include "Detection.h"
#include "Globals.h"
#include "Keypads.h"
#include "Language.h"
#include "Messages.h"
#include "OperationRecord.h"
#include "Pictures.h"
#include "NetLog.h"
#include "ServerConf.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QGridLayout>
#include <QHostAddress>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

using namespace parafields;

namespace {
constexpr int kRowHeight = 52;
QFont pageFont()
{
    QFont f;
    f.setPixelSize(18);
    return f;
}

// The camera layer hears a camera field at once, so the picture follows the edit.
void tellCamera(const Field& f)
{
    if (f.setter == Setter::Speed) {
        std::vector<CameraDevice*> devices;
        for (CameraDevice* d : gCameraDevices)
            if (d)
                devices.push_back(d);
        CameraSetSpeed(devices);
        return;
    }
    if (f.camera < 0 || f.camera >= kMaxCameras || !gCameraDevices[f.camera])
        return;
    CameraDevice* d = gCameraDevices[f.camera];
    switch (f.setter) {
    case Setter::Expose: d->SetExposeTime(); break;
    case Setter::Gain: d->SetAdjustPlus(); break;
    case Setter::Sharp: d->SetSharp(); break;
    case Setter::Contrast: d->SetContrast(); break;
    case Setter::Gamma: d->SetGamma(); break;
    case Setter::HMirror: d->SetHMirror(); break;
    case Setter::VMirror: d->SetVMirror(); break;
    default: break;
    }
}

bool parseAddress(const QString& text, int octets[4])
{
    const QStringList parts = text.trimmed().split('.');
    if (parts.size() != 4)
        return false;
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        const int v = parts[i].toInt(&ok);
        if (!ok || v < 0 || v > 255)
            return false;
        octets[i] = v;
    }
    return true;
}
} // namespace

// --- the generic page --------------------------------------------------------------------------
ParaPage::ParaPage(Page page, QWidget* parent) : QWidget(parent), m_page(page)
{
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName("fields");
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    // The page's own widgets scroll with its fields, so a small screen keeps room for both.
    auto* body = new QWidget(scroll);
    body->setObjectName("fieldsBody");
    auto* bodyLay = new QVBoxLayout(body);
    bodyLay->setContentsMargins(0, 0, 8, 0);
    m_header = new QWidget(body);
    m_header->setObjectName("header");
    bodyLay->addWidget(m_header);
    m_header->hide();  // pages with widgets of their own show it
    auto* fields = new QWidget(body);
    fields->setObjectName("fieldGrid");
    bodyLay->addWidget(fields, 1);
    m_grid = new QGridLayout(fields);
    m_grid->setHorizontalSpacing(16);
    m_grid->setColumnStretch(1, 1);
    m_grid->setColumnStretch(3, 1);
    scroll->setWidget(body);
    lay->addWidget(scroll, 1);
    warn = [](const QString&) {};
    build();
}

void ParaPage::build()
{
    QWidget* body = m_grid->parentWidget();  // the field grid
    const QFont font = pageFont();
    for (const Field& f : all()) {
        if (f.page != m_page || f.kind == Kind::Stored)
            continue;
        Row r{&f, nullptr, nullptr};
        if (f.kind == Kind::Check) {
            auto* box = new QCheckBox(body);
            box->setMinimumHeight(kRowHeight);
            connect(box, &QCheckBox::clicked, this, [this, &f](bool on) {
                // A ticked box stores 1, whatever odd value it showed before.
                f.ref(*gpWParaBak) = (on != f.negated) ? 1 : 0;
                entered(f);
            });
            r.editor = box;
        } else {
            r.label = new QLabel(body);
            r.label->setMinimumHeight(kRowHeight);
            r.label->setFont(font);
            if (f.kind == Kind::Choice) {
                auto* combo = new QComboBox(body);
                combo->setMinimumHeight(kRowHeight);
                connect(combo, &QComboBox::activated, this, [this, &f](int index) {
                    f.ref(*gpWParaBak) = index + f.offset;
                    entered(f);
                });
                r.editor = combo;
            } else {
                auto* b = new QPushButton(body);
                b->setMinimumHeight(kRowHeight);
                b->setMinimumWidth(120);
                connect(b, &QPushButton::clicked, this, [this, &f] {
                    WizardPara& p = *gpWParaBak;
                    if (f.kind == Kind::Number) {
                        if (!gpNumPad)
                            return;
                        if (const auto v = gpNumPad->getNumber(label(f), f.ref(p), f.lo, f.hi)) {
                            f.ref(p) = int(*v);
                            entered(f);
                        }
                    } else if (f.kind == Kind::Text) {
                        if (!gpNumCharPad)
                            return;
                        const QString now = f.masked ? QString() : ParaText(f.text(p));
                        // A name may be Chinese, three bytes a character in the field's bytes.
                        const bool names = !f.masked && !f.latin;
                        const int most = names ? (kTextLen - 1) / 3 : kTextLen - 1;
                        if (const auto t = gpNumCharPad->getText(label(f), now, most, true, f.masked, names)) {
                            if (!SetParaText(f.text(p), *t))
                                warn(LanStr(1881));
                            else
                                entered(f);
                        }
                    } else if (f.kind == Kind::Address) {
                        if (!gpNumCharPad)
                            return;
                        if (const auto t = gpNumCharPad->getText(label(f), valueText(f, p), 15)) {
                            int o[4];
                            if (!parseAddress(*t, o) || QHostAddress(*t).isNull()) {
                                warn(LanStr(1880).arg(*t));
                                return;
                            }
                            for (int i = 0; i < 4; ++i)
                                f.octets[i](p) = o[i];
                            entered(f);
                        }
                    }
                });
                r.editor = b;
            }
        }
        r.editor->setObjectName(f.name);
        r.editor->setFont(font);
        m_rows.append(r);
    }
}

void ParaPage::entered(const Field& f)
{
    tellCamera(f);
    if (edited)
        edited(f);
    refresh(m_level);
}

void ParaPage::showRow(Row& r)
{
    const Field& f = *r.field;
    WizardPara& p = *gpWParaBak;
    if (r.label)
        r.label->setText(label(f));
    switch (f.kind) {
    case Kind::Check: {
        auto* box = static_cast<QCheckBox*>(r.editor);
        box->setText(label(f));
        box->setChecked((f.ref(p) != 0) != f.negated);
        break;
    }
    case Kind::Choice: {
        auto* combo = static_cast<QComboBox*>(r.editor);
        const QSignalBlocker block(combo);
        combo->clear();
        combo->addItems(f.items());
        // A stored value outside the list (left by an older station) shows no item until one is picked.
        const int i = f.ref(p) - f.offset;
        combo->setCurrentIndex(i >= 0 && i < combo->count() ? i : -1);
        break;
    }
    case Kind::Text:
        static_cast<QPushButton*>(r.editor)->setText(f.masked ? QString(qstrlen(f.text(p)) ? "••••••" : "") : valueText(f, p));
        break;
    default:
        static_cast<QPushButton*>(r.editor)->setText(valueText(f, p));
    }
}

void ParaPage::refresh(int level)
{
    m_level = level;
    if (!gpWParaBak)
        return;
    for (Row& r : m_rows)
        showRow(r);
    layoutRows();
}

void ParaPage::layoutRows()
{
    for (Row& r : m_rows) {
        if (r.label)
            m_grid->removeWidget(r.label);
        m_grid->removeWidget(r.editor);
    }
    // Two columns of label and editor; a switch takes both cells of its column.
    int n = 0;
    for (Row& r : m_rows) {
        const Field& f = *r.field;
        const bool visible = shown(f, *gpWParaBak, m_level) && (f.camera < 0 || f.camera == m_camera);
        if (r.label)
            r.label->setVisible(visible);
        r.editor->setVisible(visible);
        if (!visible)
            continue;
        const int row = n / 2, col = (n % 2) * 2;
        if (r.label) {
            m_grid->addWidget(r.label, row, col);
            m_grid->addWidget(r.editor, row, col + 1);
        } else {
            m_grid->addWidget(r.editor, row, col, 1, 2);
        }
        ++n;
    }
    m_grid->setRowStretch(n / 2 + 1, 1);
}

QWidget* ParaPage::editor(const QString& name) const
{
    for (const Row& r : m_rows)
        if (r.field->name == name)
            return r.editor;
    return nullptr;
}

QStringList ParaPage::shownFields() const
{
    QStringList l;
    for (const Row& r : m_rows)
        if (!r.editor->isHidden())
            l << r.field->name;
    return l;
}

// --- camera ----------------------------------------------------------------------------------
CameraParaPage::CameraParaPage(DiVeZoruzo* win, QWidget* parent) : ParaPage(Camera, parent), m_win(win)
{
    header()->show();
    auto* lay = new QGridLayout(header());
    lay->setContentsMargins(0, 0, 0, 0);
    m_cameras = new QComboBox(header());
    m_cameras->setObjectName("camera");
    m_cameras->setMinimumHeight(kRowHeight);
    m_cameras->setFont(pageFont());
    lay->addWidget(m_cameras, 0, 0);
    QPushButton* defaults = lanButton(header(), 1875, "cameraDefaults", 18, {200, kRowHeight});
    QPushButton* order = lanButton(header(), 1855, "cameraOrder", 18, {200, kRowHeight});
    QPushButton* balance = lanButton(header(), 1886, "whiteBalance", 18, {200, kRowHeight});
    lay->addWidget(defaults, 1, 0);
    lay->addWidget(order, 2, 0);
    lay->addWidget(balance, 3, 0);
    m_live = new QLabel(header());
    m_live->setObjectName("livePicture");
    m_live->setFixedSize(320, 180);
    m_live->setAlignment(Qt::AlignCenter);
    m_live->setStyleSheet("background:black;");
    lay->addWidget(m_live, 0, 1, 4, 1);
    lay->setColumnStretch(2, 1);
    connect(m_cameras, &QComboBox::activated, this, &CameraParaPage::selectCamera);
    connect(defaults, &QPushButton::clicked, this, [this] { SlotRestoreDefaultSettings(); });
    connect(order, &QPushButton::clicked, this, &CameraParaPage::showCameraOrder);
    // A colour camera balances its white once on the scene before it (a grey camera has none to balance).
    connect(balance, &QPushButton::clicked, this, [this] {
        if (CameraDevice* d = gCameraDevices[m_camera])
            d->SetWB();
    });
    connect(&m_liveTimer, &QTimer::timeout, this, &CameraParaPage::updateLive);
    ask = [](const QString&) { return false; };
}

void CameraParaPage::refresh(int level)
{
    const int count = std::max(1, std::min(numCamera, kMaxCameras));
    {
        const QSignalBlocker block(m_cameras);
        m_cameras->clear();
        for (int i = 0; i < count; ++i)
            m_cameras->addItem(LanStr(151).arg(i + 1).trimmed());
        m_camera = std::clamp(m_camera, 0, count - 1);
        m_cameras->setCurrentIndex(m_camera);
    }
    if (auto* b = header()->findChild<QPushButton*>("whiteBalance"))
        b->setEnabled(gisColor);
    ParaPage::refresh(level);
}

void CameraParaPage::selectCamera(int index)
{
    m_camera = index;
    refresh(m_level);
    updateLive();
}

bool CameraParaPage::SlotRestoreDefaultSettings()
{
    if (!ask(LanStr(1022)))
        return false;
    // The camera writes its own defaults into the edit copy; the page shows them.
    if (CameraDevice* d = gCameraDevices[m_camera])
        d->RestoreDefaultSettings();
    refresh(m_level);
    warn(LanStr(1882).arg(m_camera + 1));
    return true;
}

void CameraParaPage::showCameraOrder()
{
    auto* page = findChild<WidgetChangeCamera*>();
    if (!page) {
        page = new WidgetChangeCamera(m_win, this);
        page->setWindowFlag(Qt::Window);
    }
    page->fill();
    showOnWholeScreen(page);
}

void CameraParaPage::showEvent(QShowEvent*)
{
    updateLive();
    m_liveTimer.start(200);
}

void CameraParaPage::hideEvent(QHideEvent*) { m_liveTimer.stop(); }

void CameraParaPage::updateLive()
{
    CammerView* v = m_win && m_win->cameras() ? m_win->cameras()->view(m_camera) : nullptr;
    if (!v)
        return;
    const cv::Mat frame = v->frame();
    if (frame.empty())
        return;
    m_liveImage = matToImage(frame);
    m_live->setPixmap(QPixmap::fromImage(m_liveImage.scaled(m_live->size(), Qt::KeepAspectRatio)));
}

// --- camera order ------------------------------------------------------------------------------
WidgetChangeCamera::WidgetChangeCamera(DiVeZoruzo* win, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), m_win(win)
{
    stylePage(this, "cameraOrderPage");
    auto* lay = new QVBoxLayout(this);
    QLabel* title = lanTitle(this, 1855);
    lay->addWidget(title);
    m_grid = new QGridLayout;
    lay->addLayout(m_grid);
    m_status = new QLabel(this);
    m_status->setFont(pageFont());
    m_status->setWordWrap(true);
    lay->addWidget(m_status);
    auto* buttons = new QHBoxLayout;
    QPushButton* ok = lanButton(this, 121, "confirm", 20, {200, 60});
    QPushButton* back = lanButton(this, 1019, "back", 20, {200, 60});
    buttons->addWidget(ok);
    buttons->addWidget(back);
    buttons->addStretch(1);
    lay->addLayout(buttons);
    lay->addStretch(1);
    connect(ok, &QPushButton::clicked, this, [this] { SlotOK(); });
    connect(back, &QPushButton::clicked, this, &QWidget::hide);
}

void WidgetChangeCamera::fill()
{
    qDeleteAll(m_choices);
    qDeleteAll(m_labels);
    m_choices.clear();
    m_labels.clear();
    m_status->clear();
    const int count = std::clamp(numCamera, 0, kMaxCameras);
    for (int i = 0; i < count; ++i) {
        auto* l = new QLabel(LanStr(1873).arg(i + 1), this);
        l->setFont(pageFont());
        auto* c = new QComboBox(this);
        c->setObjectName(QStringLiteral("order%1").arg(i));
        c->setFont(pageFont());
        c->setMinimumSize(160, kRowHeight);
        for (int k = 1; k <= kMaxCameras; ++k)
            c->addItem(QString::number(k));
        c->setCurrentIndex(std::clamp(gCamNO[i], 0, kMaxCameras - 1));
        m_grid->addWidget(l, i, 0);
        m_grid->addWidget(c, i, 1);
        m_labels << l;
        m_choices << c;
    }
}

bool WidgetChangeCamera::SlotOK()
{
    QList<int> order;
    for (QComboBox* c : std::as_const(m_choices))
        order << c->currentIndex();
    int repeated = 0;
    if (const int refused = m_win->cameras()->SetCameraOrder(order, &repeated)) {
        m_status->setText(LanStr(refused).arg(repeated));
        return false;
    }
    // The order is read at the next start.
    RestartStation();
    return true;
}

// --- network -----------------------------------------------------------------------------------
NetworkParaPage::NetworkParaPage(DiVeZoruzo* win, QWidget* parent) : ParaPage(Network, parent), m_win(win)
{
    header()->show();
    auto* lay = new QGridLayout(header());
    lay->setContentsMargins(0, 0, 0, 0);
    const QFont font = pageFont();
    for (int i = 0; i < serverconf::kRows; ++i) {
        auto* l = new QLabel(header());
        setLan(l, 1863 + i);
        l->setFont(font);
        auto* b = new QPushButton(header());
        b->setObjectName(serverconf::rowName(i));
        b->setFont(font);
        b->setMinimumSize(200, kRowHeight);
        connect(b, &QPushButton::clicked, this, [this, i] {
            // Without the client's settings file there is nothing to change: said, not a dead button.
            if (!m_serverError.isEmpty()) {
                warn(LanStr(1867).arg(m_serverError));
                return;
            }
            if (!gpNumCharPad)
                return;
            if (const auto t = gpNumCharPad->getText(LanStr(1863 + i), m_server[i]->text(), 64))
                setServer(i, *t);
        });
        lay->addWidget(l, i / 2, (i % 2) * 2);
        lay->addWidget(b, i / 2, (i % 2) * 2 + 1);
        m_server << b;
    }
    m_interfaces = new QLabel(header());
    m_interfaces->setObjectName("interfaces");
    m_interfaces->setFont(font);
    m_interfaces->setWordWrap(true);
    lay->addWidget(m_interfaces, 2, 0, 1, 4);
    QPushButton* reset = lanButton(header(), 1872, "resetStatistics", 18, {200, kRowHeight});
    QPushButton* getProducts = lanButton(header(), 1868, "getProducts", 18, {200, kRowHeight});
    QPushButton* getReminders = lanButton(header(), 1869, "getReminders", 18, {200, kRowHeight});
    lay->addWidget(reset, 3, 0);
    lay->addWidget(getProducts, 3, 1);
    lay->addWidget(getReminders, 3, 2);
    m_products = new QListWidget(header());
    m_products->setObjectName("productList");
    m_products->setFont(font);
    m_products->setMaximumHeight(120);
    m_reminders = new QListWidget(header());
    m_reminders->setObjectName("reminderList");
    m_reminders->setFont(font);
    m_reminders->setMaximumHeight(120);
    lay->addWidget(m_products, 4, 0, 1, 2);
    lay->addWidget(m_reminders, 4, 2, 1, 2);
    lay->setColumnStretch(1, 1);
    lay->setColumnStretch(3, 1);
    connect(reset, &QPushButton::clicked, this, [this] { SlotResetStatistics(); });
    connect(getProducts, &QPushButton::clicked, this, [this] {
        if (m_win->net())
            m_win->net()->CNT_SendGetProduct();
    });
    connect(getReminders, &QPushButton::clicked, this, [this] {
        if (m_win->net())
            m_win->net()->CNT_SendGetRemindList();
    });
    // Picking a product name puts it into the report identity.
    connect(m_products, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        const Field* f = parafields::find("cnt_pro_name");
        if (!f || !gpWParaBak || !SetParaText(gpWParaBak->cnt_pro_name, item->text()))
            return;
        if (edited)
            edited(*f);
        refresh(m_level);
    });
    if (CNT_Net* net = m_win->net()) {
        connect(net, &CNT_Net::productsReceived, this, &NetworkParaPage::showProducts);
        connect(net, &CNT_Net::remindersReceived, this, &NetworkParaPage::showReminders);
    }
    ask = [](const QString&) { return false; };
}

void NetworkParaPage::refresh(int level)
{
    QStringList lines;
    if (CNT_Net* net = m_win->net())
        for (auto it = net->interfaceAddresses().cbegin(); it != net->interfaceAddresses().cend(); ++it)
            lines << QStringLiteral("%1  %2  %3").arg(it.key(), it.value(), net->interfaceMacs().value(it.key()));
    m_interfaces->setText(lines.join('\n'));
    m_interfaces->setVisible(!lines.isEmpty());
    loadServer();
    ParaPage::refresh(level);
}

bool NetworkParaPage::loadServer()
{
    QString values[serverconf::kRows];
    QString error;
    const bool ok = serverconf::read(values, &error);
    m_serverError = ok ? QString() : error;
    for (int i = 0; i < serverconf::kRows; ++i)
        m_server[i]->setText(ok ? values[i] : QStringLiteral("—"));
    if (!ok)
        NETLOG << LanStrEn(1867).arg(error).toStdString();
    return ok;
}

bool NetworkParaPage::setServer(int row, const QString& value)
{
    QString error;
    if (!serverconf::write(row, value, &error)) {
        NETLOG << LanStrEn(1867).arg(error).toStdString();
        warn(LanStr(1867).arg(error));
        return false;
    }
    m_server[row]->setText(value);
    m_serverChanged = true;
    OperationRecord::instance().InsertRecord(LanStr(1849) + LanStr(1012).arg(LanStr(1863 + row), QString(), value));
    warn(LanStr(1879));
    return true;
}

bool NetworkParaPage::SlotResetStatistics()
{
    if (!ask(LanStr(1871)))
        return false;
    if (CNT_Net* net = m_win->net())
        net->ResetStatistics();
    OperationRecord::instance().InsertRecord(LanStr(1870));
    warn(LanStr(1870));
    return true;
}

void NetworkParaPage::showProducts(const QStringList& names)
{
    m_products->clear();
    m_products->addItems(names);
}

void NetworkParaPage::showReminders()
{
    m_reminders->clear();
    if (!m_win->net())
        return;
    // The client's times are UTC seconds or milliseconds.
    auto when = [](qint64 utc) {
        const QDateTime t = utc > 100000000000LL ? QDateTime::fromMSecsSinceEpoch(utc) : QDateTime::fromSecsSinceEpoch(utc);
        return t.toString("yy-MM-dd hh:mm:ss");
    };
    for (const netlink::RemindRow& r : m_win->net()->reminders())
        m_reminders->addItem(LanStr(1883).arg(r.operatorId, when(r.createUtc), r.name, QString::number(r.duration)) +
                             "  " + when(r.notifyUtc));
}
