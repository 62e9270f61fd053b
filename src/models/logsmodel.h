#pragma once

#include <QAbstractListModel>
#include <QStringList>

#include <cstdarg>

// The application's one log: the most recent lines of the engine and of the
// FFmpeg libraries, offered to the window as a single row of joined text.
class LogsModel : public QAbstractListModel
{
    Q_OBJECT

public:
    static constexpr int MaximumEntries = 4096;

    LogsModel();
    ~LogsModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // Callable from any thread; the line is appended on the model's thread.
    static void log(const QString &message);

signals:
    void newLogEntry(QString entry);

private slots:
    void onNewLogEntry(QString entry);

private:
    QStringList entries;
};

// FFmpeg's log callback, installed by the LogsModel constructor.
void ffmpegLogCallback(void *avcl, int level, const char *fmt, va_list vl);
