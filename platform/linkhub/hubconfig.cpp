#include "platform/linkhub/hubconfig.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <limits>

namespace {

bool parseInt(const QString& text, int minimum, int maximum, int* value)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok || v < minimum || v > maximum)
        return false;
    *value = v;
    return true;
}

bool parseParity(const QString& text, Serial::Parity* parity)
{
    static const struct
    {
        const char* name;
        Serial::Parity value;
    } names[] = {
        {"none", Serial::NoParity},   {"odd", Serial::OddParity},     {"even", Serial::EvenParity},
        {"mark", Serial::MarkParity}, {"space", Serial::SpaceParity},
    };
    for (const auto& n : names) {
        if (text.compare(QLatin1String(n.name), Qt::CaseInsensitive) == 0) {
            *parity = n.value;
            return true;
        }
    }
    return false;
}

} // namespace

bool HubConfig::parse(const QStringList& arguments, HubConfig* config, QString* error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Serves analyzers on a serial port or simulated ones to one local client."));
    parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("TCP port on 127.0.0.1, 0 for any free one (VELA_LINKHUB_PORT, default 32345)."),
        QStringLiteral("port"));
    const QCommandLineOption portFileOption(
        QStringLiteral("port-file"),
        QStringLiteral("Write the port listened on to this file before signalling readiness "
                       "(VELA_LINKHUB_PORT_FILE)."),
        QStringLiteral("file"));
    const QCommandLineOption keyOption(
        QStringLiteral("key"),
        QStringLiteral("System semaphore released when listening (VELA_LINKHUB_KEY, default LinkhubStart)."),
        QStringLiteral("key"));
    const QCommandLineOption traceOption(QStringLiteral("trace"),
                                         QStringLiteral("Append a wire trace to this file (VELA_LINKHUB_TRACE)."),
                                         QStringLiteral("file"));
    const QCommandLineOption traceDirOption(
        QStringLiteral("trace-dir"),
        QStringLiteral("Folder of the wire trace ring (VELA_LINKHUB_TRACE_DIR, default: trace in the working "
                       "folder)."),
        QStringLiteral("dir"));
    const QCommandLineOption traceFilesOption(
        QStringLiteral("trace-files"),
        QStringLiteral("Files in the ring, 0 for no ring (VELA_LINKHUB_TRACE_FILES, default 8)."),
        QStringLiteral("count"));
    const QCommandLineOption traceSizeOption(
        QStringLiteral("trace-size"),
        QStringLiteral("Bytes per ring file, at least 4096 (VELA_LINKHUB_TRACE_SIZE, default 33554432)."),
        QStringLiteral("bytes"));
    const QCommandLineOption idleOption(
        QStringLiteral("idle"),
        QStringLiteral("Exit this many ms after the last client left (VELA_LINKHUB_IDLE, default 10000)."),
        QStringLiteral("ms"));
    const QCommandLineOption exitAfterOption(
        QStringLiteral("exit-after"),
        QStringLiteral("Fault for driver tests: pass the n-th request line on, send no reply and exit "
                       "(VELA_LINKHUB_EXIT_AFTER, default 0: never)."),
        QStringLiteral("lines"));
    const QCommandLineOption baudOption(QStringLiteral("baud"), QStringLiteral("Serial baud rate (default 115200)."),
                                        QStringLiteral("rate"));
    const QCommandLineOption parityOption(QStringLiteral("parity"),
                                          QStringLiteral("Serial parity: none, odd, even, mark, space (default none)."),
                                          QStringLiteral("parity"));
    const QCommandLineOption retriesOption(
        QStringLiteral("retries"),
        QStringLiteral("Repeats of a serial request after a time-out or bad frame (default 2)."),
        QStringLiteral("count"));
    const QCommandLineOption readOption(QStringLiteral("read-timeout"),
                                        QStringLiteral("Read time-out in ms, over profile.db (default 300)."),
                                        QStringLiteral("ms"));
    const QCommandLineOption intervalOption(
        QStringLiteral("interval-timeout"),
        QStringLiteral("Largest gap between bytes in ms, over profile.db (default 50)."), QStringLiteral("ms"));
    const QCommandLineOption writeOption(QStringLiteral("write-timeout"),
                                         QStringLiteral("Write time-out in ms, over profile.db (default 100)."),
                                         QStringLiteral("ms"));
    parser.addOption(portFileOption);
    parser.addOptions({portOption, keyOption, traceOption, traceDirOption, traceFilesOption, traceSizeOption,
                       idleOption, exitAfterOption, baudOption, parityOption, retriesOption, readOption, intervalOption,
                       writeOption});
    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return false;
    }
    if (parser.isSet(versionOption))
        parser.showVersion(); // prints the name and version, and exits
    if (parser.isSet(QStringLiteral("help"))) {
        *error = parser.helpText();
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().constFirst());
        return false;
    }

    auto pick = [&parser](const QCommandLineOption& option, const char* variable) {
        if (parser.isSet(option))
            return parser.value(option);
        return variable ? qEnvironmentVariable(variable) : QString();
    };

    const QString port = pick(portOption, "VELA_LINKHUB_PORT");
    int value = 0;
    if (!port.isEmpty()) {
        if (!parseInt(port, 0, 65535, &value)) {
            *error = QStringLiteral("invalid port %1").arg(port);
            return false;
        }
        config->port = quint16(value);
    }
    config->portFile = pick(portFileOption, "VELA_LINKHUB_PORT_FILE");
    const QString key = pick(keyOption, "VELA_LINKHUB_KEY");
    if (!key.isEmpty())
        config->semaphoreKey = key;
    config->traceFile = pick(traceOption, "VELA_LINKHUB_TRACE");
    const QString traceDir = pick(traceDirOption, "VELA_LINKHUB_TRACE_DIR");
    config->traceRing.dir = QDir::current().absoluteFilePath(traceDir.isEmpty() ? QStringLiteral("trace") : traceDir);
    const QString traceFiles = pick(traceFilesOption, "VELA_LINKHUB_TRACE_FILES");
    if (!traceFiles.isEmpty() && !parseInt(traceFiles, 0, 10000, &config->traceRing.files)) {
        *error = QStringLiteral("invalid trace file count %1").arg(traceFiles);
        return false;
    }
    const QString traceSize = pick(traceSizeOption, "VELA_LINKHUB_TRACE_SIZE");
    if (!traceSize.isEmpty()) {
        bool ok = false;
        const qint64 size = traceSize.trimmed().toLongLong(&ok);
        if (!ok || size < TraceRing::MinimumFileSize || size > (qint64(1) << 40)) {
            *error = QStringLiteral("invalid trace file size %1").arg(traceSize);
            return false;
        }
        config->traceRing.fileSize = size;
    }
    const QString idle = pick(idleOption, "VELA_LINKHUB_IDLE");
    if (!idle.isEmpty() && !parseInt(idle, 0, 24 * 3600 * 1000, &config->idleMs)) {
        *error = QStringLiteral("invalid idle time %1").arg(idle);
        return false;
    }
    const QString exitAfter = pick(exitAfterOption, "VELA_LINKHUB_EXIT_AFTER");
    if (!exitAfter.isEmpty() && !parseInt(exitAfter, 0, std::numeric_limits<int>::max(), &config->exitAfterLines)) {
        *error = QStringLiteral("invalid line count %1").arg(exitAfter);
        return false;
    }

    SerialLineSettings& serial = config->options.serial;
    if (parser.isSet(baudOption) && !parseInt(parser.value(baudOption), 1, 4000000, &serial.baudRate)) {
        *error = QStringLiteral("invalid baud rate %1").arg(parser.value(baudOption));
        return false;
    }
    if (parser.isSet(parityOption) && !parseParity(parser.value(parityOption), &serial.parity)) {
        *error = QStringLiteral("invalid parity %1").arg(parser.value(parityOption));
        return false;
    }
    if (parser.isSet(retriesOption) && !parseInt(parser.value(retriesOption), 0, 10, &serial.retries)) {
        *error = QStringLiteral("invalid retry count %1").arg(parser.value(retriesOption));
        return false;
    }

    LinkTimeouts& timeouts = config->options.timeouts;
    readProfileTimeouts(QStringLiteral("profile.db"), &timeouts);
    const struct
    {
        const QCommandLineOption* option;
        int* value;
    } overrides[] = {
        {&readOption, &timeouts.read},
        {&intervalOption, &timeouts.interval},
        {&writeOption, &timeouts.write},
    };
    for (const auto& o : overrides) {
        if (parser.isSet(*o.option) && !parseInt(parser.value(*o.option), 0, 100000, o.value)) {
            *error = QStringLiteral("invalid time-out %1").arg(parser.value(*o.option));
            return false;
        }
    }

    config->options.sim = SimConfig::fromEnvironment();
    return true;
}

bool readProfileTimeouts(const QString& databaseFile, LinkTimeouts* timeouts, QString* error)
{
    if (!QFileInfo(databaseFile).isFile()) {
        if (error)
            *error = QStringLiteral("%1 not found").arg(databaseFile);
        return false;
    }

    const QString connection = QStringLiteral("linkhub-profile-") + QUuid::createUuid().toString(QUuid::Id128);
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(databaseFile);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=1000"));
        if (!db.open()) {
            if (error)
                *error = db.lastError().text();
        } else {
            QSqlQuery query(db);
            if (!query.exec(QStringLiteral("SELECT name, value FROM profile WHERE name IN "
                                           "('instrument/timeout/interval', 'instrument/timeout/read', "
                                           "'instrument/timeout/write')"))) {
                if (error)
                    *error = query.lastError().text();
            } else {
                ok = true;
                while (query.next()) {
                    const QString name = query.value(0).toString();
                    bool valid = false;
                    const int value = query.value(1).toInt(&valid);
                    if (!valid || value < 0 || value > 100000)
                        continue;
                    if (name == QLatin1String("instrument/timeout/interval"))
                        timeouts->interval = value;
                    else if (name == QLatin1String("instrument/timeout/read"))
                        timeouts->read = value;
                    else
                        timeouts->write = value;
                }
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return ok;
}
