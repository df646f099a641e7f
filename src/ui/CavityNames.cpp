#include "CavityNames.h"

#include "Globals.h"
#include "Keypads.h"
#include "Language.h"
#include "Messages.h"
#include "OperationRecord.h"

#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVBoxLayout>
#include <QtDebug>

EditCavitywidget* gpCavity = nullptr;

namespace {
const char* kConn = "sql_CavityDatabase_connection";
const char* kFile = "CavityDatabase.db";
const QString kInForce = QStringLiteral("CavityName_table");
const QString kEditing = QStringLiteral("TempSave_table");
constexpr int kNameMax = 32;

QSqlDatabase db() { return QSqlDatabase::database(kConn, false); }

QString defaultRow()
{
    QStringList names;
    for (int i = 0; i < kCavityNames; ++i)
        names << LanStr(1610 + i, 0);  // the Simplified Chinese texts, whatever the language
    return names.join(' ');
}

} // namespace

EditCavitywidget::EditCavitywidget(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
    stylePage(this, "cavityPage", "QComboBox{min-height:52px;}");
    QFont f;
    f.setPixelSize(20);
    auto* lay = new QVBoxLayout(this);
    QLabel* title = lanTitle(this, 1335);
    lay->addWidget(title);
    m_cameraBox = new QComboBox(this);
    m_cameraBox->setObjectName("cavityCamera");
    m_cameraBox->setFont(f);
    lay->addWidget(m_cameraBox);
    auto* grid = new QGridLayout;
    for (int i = 0; i < kCavityNames; ++i) {
        auto* label = new QLabel(QString::number(i + 1), this);
        label->setFont(f);
        auto* e = new QLineEdit(this);
        e->setObjectName(QStringLiteral("cavity%1").arg(i + 1));
        e->setFont(f);
        e->setMinimumHeight(52);
        openTextPadOnTap(e, 1335, kNameMax, false, true);
        grid->addWidget(label, i / 4, (i % 4) * 2);
        grid->addWidget(e, i / 4, (i % 4) * 2 + 1);
        m_edits << e;
    }
    lay->addLayout(grid);
    lay->addStretch(1);
    m_status = new QLabel(this);
    m_status->setFont(f);
    m_status->setStyleSheet("color:#ff8070;");
    m_status->setWordWrap(true);
    lay->addWidget(m_status);
    auto* row = new QHBoxLayout;
    row->addStretch();
    for (auto [text, name] : {std::pair{121, "accept"}, std::pair{1528, "reject"}}) {
        auto* b = new QPushButton(this);
        b->setObjectName(name);
        setLan(b, text);
        b->setFont(f);
        b->setMinimumSize(160, 60);
        row->addWidget(b);
        connect(b, &QPushButton::clicked, this, [this, accept = text == 121] {
            if (!accept) {
                Reject();
                hide();
            } else if (Accept()) {
                hide();
            }
        });
    }
    lay->addLayout(row);
    connect(m_cameraBox, &QComboBox::activated, this, &EditCavitywidget::SlotChangeCam);
    Databaseinit();
}

EditCavitywidget::~EditCavitywidget()
{
    if (gpCavity == this)
        gpCavity = nullptr;
    if (QSqlDatabase::contains(kConn)) {
        db().close();
        QSqlDatabase::removeDatabase(kConn);
    }
}

QString EditCavitywidget::status() const { return m_status->text(); }

bool EditCavitywidget::Databaseinit()
{
    auto make = [] {
        QSqlDatabase d = QSqlDatabase::contains(kConn) ? db() : QSqlDatabase::addDatabase("QSQLITE", kConn);
        d.setDatabaseName(kFile);
        if (!d.open())
            return false;
        const QStringList tables = d.tables();
        // A missing table is made with the default names; one that exists keeps the operator's.
        d.transaction();
        QSqlQuery q(d);
        bool ok = true;
        for (const QString& t : {kInForce, kEditing}) {
            if (tables.contains(t))
                continue;
            ok = ok && q.exec(QStringLiteral("create table %1(Camera varchar(32) primary key,CavityName varchar(32))").arg(t));
            for (int c = 0; ok && c < 8; ++c) {
                q.prepare(QStringLiteral("insert into %1 values(?, ?)").arg(t));
                q.addBindValue(QStringLiteral("Camera%1").arg(c));
                q.addBindValue(defaultRow());
                ok = q.exec();
            }
        }
        ok = ok && QSqlQuery(d).exec(QStringLiteral("select count(*) from %1").arg(kInForce));
        if (ok && d.commit())
            return true;
        d.rollback();
        d.close();
        return false;
    };
    if (make()) {
        loadInForce();
        return true;
    }
    // Not a database: kept aside for the operator's names, then made anew.
    const QString aside = QStringLiteral("%1.broken-%2").arg(kFile, QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss"));
    if (QFile::exists(kFile) && QFile::rename(kFile, aside)) {
        OperationRecord::instance().InsertRecord(LanStr(1627).arg(aside));
        if (make()) {
            loadInForce();
            return true;
        }
    }
    OperationRecord::instance().InsertRecord(LanStr(1627).arg(db().lastError().text()));
    return false;
}

void EditCavitywidget::init()
{
    Initialize(kInForce, kEditing);
    m_cameraBox->clear();
    for (int c = 0; c < std::max(1, numCamera); ++c)
        m_cameraBox->addItem(LanStr(151).arg(c + 1));
    m_camera = 0;
    m_cameraBox->setCurrentIndex(0);
    m_status->clear();
    changeCamera();
}

bool EditCavitywidget::Initialize(const QString& source, const QString& target)
{
    QSqlQuery read(db()), write(db());
    bool ok = true;
    for (int c = 0; c < 8; ++c) {
        read.prepare(QStringLiteral("select CavityName from %1 where Camera=?").arg(source));
        read.addBindValue(QStringLiteral("Camera%1").arg(c));
        if (!read.exec()) {
            ok = false;
            continue;
        }
        if (!read.next())
            continue;
        write.prepare(QStringLiteral("update %1 set CavityName=? where Camera=?").arg(target));
        write.addBindValue(read.value(0).toString());
        write.addBindValue(QStringLiteral("Camera%1").arg(c));
        ok = write.exec() && ok;
    }
    return ok;
}

QStringList EditCavitywidget::namesOf(const QString& table, int camera) const
{
    QSqlQuery q(db());
    q.prepare(QStringLiteral("select CavityName from %1 where Camera=?").arg(table));
    q.addBindValue(QStringLiteral("Camera%1").arg(camera));
    if (!q.exec() || !q.next())
        return {};
    return q.value(0).toString().split(' ');
}

void EditCavitywidget::changeCamera()
{
    const QStringList names = namesOf(kEditing, m_camera);
    for (int i = 0; i < kCavityNames; ++i)
        m_edits[i]->setText(names.value(i));
}

QString EditCavitywidget::refusal(const QString& name)
{
    if (name.trimmed().isEmpty())
        return LanStr(1626);
    for (const QChar c : name)
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return LanStr(1626);
    if (name.size() > kNameMax)
        return LanStr(1544).arg(kNameMax);
    return {};
}

bool EditCavitywidget::writeCurrent()
{
    QStringList names;
    for (int i = 0; i < kCavityNames; ++i) {
        const QString why = refusal(m_edits[i]->text());
        if (!why.isEmpty()) {
            m_status->setText(QStringLiteral("%1: %2").arg(i + 1).arg(why));
            return false;
        }
        names << m_edits[i]->text();
    }
    QSqlQuery q(db());
    q.prepare(QStringLiteral("update %1 set CavityName=? where Camera=?").arg(kEditing));
    q.addBindValue(names.join(' '));
    q.addBindValue(QStringLiteral("Camera%1").arg(m_camera));
    if (!q.exec()) {
        m_status->setText(LanStr(1627).arg(q.lastError().text()));
        return false;
    }
    m_status->clear();
    return true;
}

bool EditCavitywidget::SlotChangeCam(int camera)
{
    if (!writeCurrent()) {
        m_cameraBox->setCurrentIndex(m_camera);
        return false;
    }
    m_camera = std::clamp(camera, 0, 7);
    m_cameraBox->setCurrentIndex(m_camera);
    changeCamera();
    return true;
}

bool EditCavitywidget::Accept()
{
    if (!writeCurrent())
        return false;
    if (!Initialize(kEditing, kInForce)) {
        m_status->setText(LanStr(1627).arg(db().lastError().text()));
        return false;
    }
    loadInForce();
    OperationRecord::instance().InsertRecord(LanStr(1628));
    return true;
}

void EditCavitywidget::loadInForce()
{
    for (int c = 0; c < 8; ++c)
        m_inForce[c] = namesOf(kInForce, c);
}

void EditCavitywidget::Reject() { m_status->clear(); }

QString EditCavitywidget::getResult(int camera, int index) const
{
    if (camera < 0 || camera >= std::min(numCamera, 8) || index < 0 || index >= kCavityNames)
        return {};
    return m_inForce[camera].value(index);
}
