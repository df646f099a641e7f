#pragma once
// The operation record: one row per operator action or notable event in
// RECORD.db (connection "dbRecord"), archived to ./RECORD/<date>.db per day.
#include <QDate>
#include <QObject>
#include <QString>
#include <functional>

class OperationRecord : public QObject {
    Q_OBJECT
public:
    // Forwards (time, level label, text) to the service link when it is on and connected.
    using Forwarder = std::function<void(const QString&, const QString&, const QString&)>;

    static OperationRecord& instance();

    // The date of the current record period, from "time.txt" (written with
    // today's date when it cannot be read).
    void loadRecordDate();
    QString recordDate() const { return m_date; }

    void setForwarder(Forwarder f) { m_forward = std::move(f); }
    // Tools that read a station's directory keep its record untouched: lines
    // then only go to the forwarder.
    void setReadOnly(bool on) { m_readOnly = on; }

    // Appends one row; returns false when the database cannot be used.
    bool InsertRecord(const QString& text);
    bool ClearRecord();

    // Label of the current access level in the current language.
    static QString levelLabel();
    // The logged-in account, written after the level (the station sets it; none: the level alone).
    void setAccount(std::function<QString()> name) { m_account = std::move(name); }

public slots:
    // Daily archiving: when the date changed, RECORD.db moves to
    // ./RECORD/<old date>.db and a fresh copy of RECORDNULL.db takes its place.
    void SlotCheckDate();

public:
    // A day change a kill cut short is finished (the start does this before
    // the databases are opened).
    void finishDayChange();

public:
    // For tests: the date taken as today.
    std::function<QDate()> today = [] { return QDate::currentDate(); };

private:
    bool ensureOpen();
    QString who() const;
    std::function<QString()> m_account;
    void writeDateFile();

    QString m_date;
    Forwarder m_forward;
    bool m_readOnly = false;
};
