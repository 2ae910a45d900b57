#include "Download.h"

#include "modMain.h"

namespace {

constexpr int HandOverSlot = 10;
constexpr double HandOverPause = 1.0;
constexpr int QuietSlot = 10;
constexpr double QuietSeconds = 0.2; // a download is over after this long without a chunk
// How many more quiet times a download waits for bytes the driver already holds to be handed
// on: a read completion that comes that late means a port that no longer reports at all.
constexpr int LateReadRounds = 10;
constexpr float HeaderWaitValue = 0.1f;

} // namespace

bool SettleIdentification(modMain& link) {
    link.Wait(HandOverSlot, HandOverPause);
    if (link.Ending()) return false;
    link.EndIdentification();
    return true;
}

DownloadEnd DownloadData(modMain& link, const QString& letter,
                         const std::function<void(const QString& reply)>& header) {
    const bool answered = link.SendAndReceive(QStringLiteral("H"), HeaderWaitValue) == 0;
    // The program may end inside any wait: then only unwind.
    if (link.Ending()) return DownloadEnd::Ending;
    if (!answered) return DownloadEnd::NoReply;
    header(link.PortReply);
    link.SendNoWait(letter);
    // The receive handler hands on every chunk and restarts the slot, so this returns once the
    // device has been quiet for the whole quiet time.
    link.Wait(QuietSlot, QuietSeconds);
    // Bytes the driver holds arrived inside the quiet time; only their notice is late (seen
    // under load, where a read's completion took longer than the quiet time). They belong to
    // this download.
    for (int round = 0; round < LateReadRounds && !link.Ending() && link.InputWaiting(); ++round) {
        link.Wait(QuietSlot, QuietSeconds);
    }
    link.StopTimer(QuietSlot);
    return link.Ending() ? DownloadEnd::Ending : DownloadEnd::Received;
}
