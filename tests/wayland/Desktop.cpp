#include "Desktop.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>

#include <linux/input-event-codes.h>

namespace {

const QSize output(1920, 1080);
// How long a process may take to be ready on a loaded machine.
const int readyMs = 60000;
const char *const background = "3366cc"; // what the desktop shows under the program

bool runClick(const QPoint &at)
{
    return QProcess::execute(QStringLiteral(NORVANE_VIRTUAL_POINTER),
                             {QString::number(at.x()), QString::number(at.y()),
                              QString::number(output.width()), QString::number(output.height())}) ==
           0;
}

// A full-screen window in the painted colour, for desktops that paint no background.
bool paintScreen(QProcess &painter, QString &error)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
    painter.setProcessEnvironment(env);
    painter.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    painter.start(QStringLiteral(NORVANE_PAINT_SCREEN), {QString::fromLatin1(background)});
    if (painter.waitForReadyRead(readyMs) && painter.readLine().trimmed() == "painted")
        return true;
    error = QStringLiteral("the screen's painter did not paint");
    return false;
}

// sway: xdg-desktop-portal-wlr shares the output without asking; windows are found in sway's
// tree; clicks come from a wlroots virtual pointer, one of which must be on the seat before the
// program starts.
class Sway : public Desktop
{
public:
    ~Sway() override
    {
        pointer.closeWriteChannel();
        pointer.waitForFinished(5000);
    }
    bool prepare(QString &error) override
    {
        pointer.start(QStringLiteral(NORVANE_VIRTUAL_POINTER), QStringList());
        if (pointer.waitForReadyRead(readyMs) && pointer.readLine().trimmed() == "ready")
            return true;
        error = QStringLiteral("no virtual pointer on sway's seat");
        return false;
    }
    QRect window(const QSize &) override
    {
        QProcess tree;
        tree.start("swaymsg", {"-t", "get_tree"});
        tree.waitForFinished(5000);
        return find(QJsonDocument::fromJson(tree.readAllStandardOutput()).object());
    }
    bool click(const QPoint &at) override { return runClick(at); }
    bool asks() const override { return false; }
    bool waitForDialog(int) override { return false; }
    bool answerDialog(bool) override { return false; }
    QString backend() const override
    {
        return QStringLiteral("org.freedesktop.impl.portal.desktop.wlr");
    }

private:
    // The rectangle of the window with the program's app id, or an empty one.
    static QRect find(const QJsonObject &node)
    {
        if (node.value("app_id").toString() == QLatin1String("norvane")) {
            const QJsonObject r = node.value("rect").toObject();
            return QRect(r.value("x").toInt(), r.value("y").toInt(), r.value("width").toInt(),
                         r.value("height").toInt());
        }
        for (const char *children : {"nodes", "floating_nodes"}) {
            for (const QJsonValue &child : node.value(children).toArray()) {
                const QRect found = find(child.toObject());
                if (!found.isEmpty())
                    return found;
            }
        }
        return QRect();
    }

    QProcess pointer;
};

// GNOME: headless mutter centres new windows (the session's setting) and says in its log which
// window takes the focus; a new one after the click is the share dialog. Input comes through
// mutter's RemoteDesktop API: one session held for the whole test, with a screen cast of the
// monitor for absolute pointer positions. The dialog is answered with keys: Alt+S shares,
// Escape cancels. GNOME 48 shows the only monitor chosen; GNOME 43 shows it unchosen and Share
// greyed out, and there Alt+S leaves the dialog up: Tab to the row and Space choose it first.
// Which of the two it is, the first dialog tells, by staying up or not.
class Gnome : public Desktop
{
public:
    Gnome()
        : remote(QStringLiteral("org.gnome.Mutter.RemoteDesktop"),
                 QStringLiteral("/org/gnome/Mutter/RemoteDesktop"),
                 QStringLiteral("org.gnome.Mutter.RemoteDesktop"))
    {
    }
    ~Gnome() override
    {
        if (session)
            session->call(QStringLiteral("Stop"));
    }
    bool prepare(QString &error) override
    {
        const QDBusReply<QDBusObjectPath> created = remote.call(QStringLiteral("CreateSession"));
        if (!created.isValid()) {
            error = QStringLiteral("no remote desktop session: ") + created.error().message();
            return false;
        }
        session = std::make_unique<QDBusInterface>(
            remote.service(), created.value().path(),
            QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session"));
        QDBusInterface screenCast(QStringLiteral("org.gnome.Mutter.ScreenCast"),
                                  QStringLiteral("/org/gnome/Mutter/ScreenCast"),
                                  QStringLiteral("org.gnome.Mutter.ScreenCast"));
        const QDBusReply<QDBusObjectPath> cast =
            screenCast.call(QStringLiteral("CreateSession"),
                            QVariantMap{{QStringLiteral("remote-desktop-session-id"),
                                         session->property("SessionId")}});
        QDBusReply<QDBusObjectPath> recorded;
        if (cast.isValid()) {
            QDBusInterface castSession(screenCast.service(), cast.value().path(),
                                       QStringLiteral("org.gnome.Mutter.ScreenCast.Session"));
            recorded = castSession.call(QStringLiteral("RecordMonitor"), QString(), QVariantMap());
        }
        if (!recorded.isValid()) {
            error = QStringLiteral("no screen cast for the pointer: ") + recorded.error().message();
            return false;
        }
        stream = recorded.value().path();
        const QDBusMessage started = session->call(QStringLiteral("Start"));
        if (started.type() == QDBusMessage::ErrorMessage) {
            error = QStringLiteral("remote desktop did not start: ") + started.errorMessage();
            return false;
        }
        // The first key of a new session is lost, and so is the first move of the pointer.
        key(shiftKey);
        park();
        if (!paintScreen(painter, error))
            return false;
        // Everything shown so far is the desktop's own; the next window is the program's.
        if (!QTest::qWaitFor([&] { return newestFocus() >= 0; }, readyMs)) {
            error = QStringLiteral("mutter focused no window");
            return false;
        }
        known = newestFocus();
        return true;
    }
    QRect window(const QSize &size) override
    {
        const int newest = newestFocus();
        if (newest <= known)
            return QRect();
        known = newest;
        return QRect(
            QPoint((output.width() - size.width()) / 2, (output.height() - size.height()) / 2),
            size);
    }
    bool click(const QPoint &at) override
    {
        return call("NotifyPointerMotionAbsolute", stream, double(at.x()), double(at.y())) &&
               call("NotifyPointerButton", BTN_LEFT, true) &&
               call("NotifyPointerButton", BTN_LEFT, false) && park();
    }
    bool waitForDialog(int timeoutMs) override
    {
        const int before = known;
        if (!QTest::qWaitFor([&] { return newestFocus() > before; }, timeoutMs))
            return false;
        known = newestFocus();
        // It takes keys once GTK has shown it.
        QTest::qWait(500);
        return true;
    }
    bool answerDialog(bool share) override
    {
        if (!share)
            return key(escapeKey);
        const int dialog = known;
        const auto closed = [&](int ms) {
            return QTest::qWaitFor([&] { return focused() != dialog; }, ms);
        };
        if (!key(shiftKey))
            return false;
        if (monitorChosen != Chosen::No) {
            if (!altS())
                return false;
            if (monitorChosen == Chosen::Yes || closed(10000)) {
                monitorChosen = Chosen::Yes;
                return true;
            }
            monitorChosen = Chosen::No;
        }
        return key(tabKey) && key(spaceKey) && altS() && closed(readyMs);
    }
    QString backend() const override
    {
        return QStringLiteral("org.freedesktop.impl.portal.desktop.gnome");
    }

private:
    static constexpr uint shiftKey = 0xffe1, tabKey = 0xff09, spaceKey = 0x20, altKey = 0xffe9,
                          sKey = 0x73, escapeKey = 0xff1b;

    template <typename... Args> bool call(const char *method, Args... args)
    {
        const QDBusMessage reply = session->call(QString::fromLatin1(method), args...);
        if (reply.type() == QDBusMessage::ErrorMessage)
            qWarning("%s: %s", method, qPrintable(reply.errorMessage()));
        return reply.type() != QDBusMessage::ErrorMessage;
    }
    bool altS()
    {
        return call("NotifyKeyboardKeysym", altKey, true) && key(sKey) &&
               call("NotifyKeyboardKeysym", altKey, false);
    }
    bool park()
    {
        return call("NotifyPointerMotionAbsolute", stream, double(output.width() - 1),
                    double(output.height() - 1));
    }
    bool key(uint keysym)
    {
        const bool sent = call("NotifyKeyboardKeysym", keysym, true) &&
                          call("NotifyKeyboardKeysym", keysym, false);
        QTest::qWait(150);
        return sent;
    }
    // The numbers of the windows that mutter gave the focus (it counts them W0, W1, ...), in
    // order.
    static QList<int> focusLog()
    {
        QFile log(qEnvironmentVariable("NORVANE_SESSION_LOG") + "/mutter.log");
        static const QRegularExpression focus(QStringLiteral("FOCUS: \\* Focus --> W(\\d+)"));
        QList<int> windows;
        if (log.open(QIODevice::ReadOnly)) {
            for (auto it = focus.globalMatch(QString::fromUtf8(log.readAll())); it.hasNext();)
                windows << it.next().captured(1).toInt();
        }
        return windows;
    }
    // The newest window that had the focus, or -1; the one that has it now, or -1.
    static int newestFocus()
    {
        const QList<int> windows = focusLog();
        return windows.isEmpty() ? -1 : *std::max_element(windows.begin(), windows.end());
    }
    static int focused()
    {
        const QList<int> windows = focusLog();
        return windows.isEmpty() ? -1 : windows.last();
    }

    QDBusInterface remote;
    std::unique_ptr<QDBusInterface> session;
    QString stream;
    QProcess painter;
    // The newest window the test has accounted for.
    int known = -1;
    // Whether the share dialog shows the monitor chosen; learnt from the first one.
    enum class Chosen { Unknown, Yes, No } monitorChosen = Chosen::Unknown;
};

// KDE Plasma: KWin finds windows by caption (its window runner) and tells their geometry;
// clicks come from KWin's fake input. The dialog lists a "New Virtual Output" card first and
// the output second; Share stays greyed out until a card is chosen. KWin 5.27's virtual
// backend negotiates a monitor stream but never feeds it.
class Kde : public Desktop
{
public:
    bool prepare(QString &error) override { return paintScreen(painter, error); }
    QRect window(const QSize &) override { return find(QStringLiteral("Norvane")); }
    bool click(const QPoint &at) override { return runClick(at); }
    bool waitForDialog(int timeoutMs) override
    {
        // Found once it is shown, and answered once KWin has placed it: where it was last seen
        // a moment ago.
        QRect seen;
        return QTest::qWaitFor(
                   [&] {
                       const QRect now = find(QStringLiteral("Screen Sharing"));
                       const bool settled = !now.isEmpty() && now == seen;
                       seen = now;
                       if (!settled)
                           QTest::qWait(250);
                       return settled;
                   },
                   timeoutMs) &&
               (dialog = seen, true);
    }
    bool answerDialog(bool share) override
    {
        // Offsets within the dialog's frame as Debian 12's Plasma lays it out.
        if (!share)
            return click(dialog.bottomRight() - QPoint(50, 24));
        if (!click(dialog.topLeft() + QPoint(481, 246)))
            return false;
        QTest::qWait(300);
        return click(dialog.bottomRight() - QPoint(138, 24));
    }
    QString noMonitorFrames() const override
    {
        return QStringLiteral("KWin 5.27's virtual backend negotiates a monitor stream "
                              "but sends no picture on it");
    }
    QString backend() const override
    {
        return QStringLiteral("org.freedesktop.impl.portal.desktop.kde");
    }

private:
    // The frame of the window whose caption starts with this text, or an empty one.
    static QRect find(const QString &caption)
    {
        QDBusInterface runner(QStringLiteral("org.kde.KWin"), QStringLiteral("/WindowsRunner"),
                              QStringLiteral("org.kde.krunner1"));
        const QDBusMessage matches = runner.call(QStringLiteral("Match"), caption);
        if (matches.type() == QDBusMessage::ErrorMessage || matches.arguments().isEmpty())
            return QRect();
        // a(sssida{sv}): the first field is "0_" followed by the window's id.
        const QDBusArgument list = matches.arguments().at(0).value<QDBusArgument>();
        QString id;
        list.beginArray();
        while (!list.atEnd()) {
            QString match, text, icon;
            int type = 0;
            double relevance = 0;
            QVariantMap properties;
            list.beginStructure();
            list >> match >> text >> icon >> type >> relevance >> properties;
            list.endStructure();
            if (id.isEmpty() && text.startsWith(caption))
                id = match.section(QLatin1Char('_'), 1);
        }
        list.endArray();
        if (id.isEmpty())
            return QRect();
        QDBusInterface kwin(QStringLiteral("org.kde.KWin"), QStringLiteral("/KWin"),
                            QStringLiteral("org.kde.KWin"));
        const QDBusReply<QVariantMap> info = kwin.call(QStringLiteral("getWindowInfo"), id);
        if (!info.isValid())
            return QRect();
        const QVariantMap &v = info.value();
        return QRect(v.value("x").toInt(), v.value("y").toInt(), v.value("width").toInt(),
                     v.value("height").toInt());
    }

    QProcess painter;
    QRect dialog;
};

} // namespace

std::unique_ptr<Desktop> Desktop::fromEnvironment()
{
    const QString name = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    if (name == QLatin1String("sway"))
        return std::make_unique<Sway>();
    if (name == QLatin1String("GNOME"))
        return std::make_unique<Gnome>();
    if (name == QLatin1String("KDE"))
        return std::make_unique<Kde>();
    return nullptr;
}

bool PortalWatch::start()
{
    monitor.start(QStringLiteral("dbus-monitor"),
                  {QStringLiteral("--session"),
                   QStringLiteral("type='signal',interface='org.freedesktop.portal.Request',"
                                  "member='Response'")});
    return monitor.waitForStarted(5000) && monitor.waitForReadyRead(5000);
}

PortalWatch::~PortalWatch()
{
    monitor.kill();
    monitor.waitForFinished(5000);
}

void PortalWatch::read()
{
    // One signal per block: its header line, the response code, then the results, a{sv}, whose
    // closing bracket is the only one at the body's own indentation.
    pending += monitor.readAllStandardOutput();
    for (;;) {
        const int begin = pending.indexOf("member=Response");
        const int end = begin < 0 ? -1 : pending.indexOf("\n   ]\n", begin);
        if (end < 0)
            break;
        const QByteArray block = pending.mid(begin, end - begin);
        pending.remove(0, end + 6);
        if (!block.contains("\n   uint32 0\n"))
            ++failed;
        else if (block.contains("string \"streams\""))
            ++started;
    }
}

int PortalWatch::shares()
{
    read();
    return started;
}

int PortalWatch::failures()
{
    read();
    return failed;
}

bool PortalWatch::waitForShares(int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return shares() >= count; }, timeoutMs);
}

bool PortalWatch::waitForFailures(int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return failures() >= count; }, timeoutMs);
}
