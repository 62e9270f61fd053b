#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>

#include <functional>

class PlayerModel;

// What a command from a script or a scheduler does to the copy that runs: the
// same as a tap on play or stop, the title dialog's Apply and the window's
// close button, carried out by the window, or by the run itself where there
// is no window.
class Station
{
public:
    struct Actions
    {
        // As a tap on play: empty, or why the copy refuses (no capture device).
        std::function<QString()> start;
        // As a tap on stop.
        std::function<void()> stop;
        // As the window's close button: the run stopped, the recording closed, the end.
        std::function<void()> quit;
        // The window to the front where there is one; what became of the
        // start that asks ("its window comes to the front").
        std::function<QString()> show;
    };

    Station(PlayerModel &model, Actions actions);

    // A command's answer: "ok", "message", and the station's "status".
    QJsonObject carryOut(const QString &command, const QString &text);
    // Status, elapsed seconds, now playing, each stream's label, state and
    // listener count where known, the recording's file, the dead air.
    QJsonObject status() const;

private:
    PlayerModel &m_model;
    Actions m_actions;
};

// The status as lines of text, as --status prints it.
QString statusText(const QJsonObject &status);
