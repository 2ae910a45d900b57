#pragma once
// The exchanges that end a search and fetch the device's stored readings. The retrieval window
// and the command-line download both run these, so the device sees the same conversation
// whichever way in the user took.

#include <QString>
#include <functional>

class modMain;

// The pause after the identification line: replies to the last probes, still on their way, land
// in it and only renew the identity; then the identification ends. False when the program ends
// during the pause.
bool SettleIdentification(modMain& link);

enum class DownloadEnd {
    Received, // the device answered "H"; its data has come and the device has gone quiet
    NoReply,  // nothing came back to "H"
    Ending,   // the program is ending: unwind, nothing more to do
};

// One download: "H", whose reply goes to `header`, then the request letter ("T", "R", "C" or "A").
// The data comes through the link's receive handler (LinkWindows::AppendReceived) until the
// device has been quiet for the quiet time.
DownloadEnd DownloadData(modMain& link, const QString& letter,
                         const std::function<void(const QString& reply)>& header);
