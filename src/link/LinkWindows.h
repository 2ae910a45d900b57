#pragma once
// What the link needs of the windows. The link reaches them only through this, so it runs
// (and is tested) without any window.

#include <QString>

class LinkWindows {
public:
    virtual ~LinkWindows() = default;

    // A complete identification line has arrived: show the identity text.
    virtual void ShowIdentity(const QString& identity) = 0;
    // Hand over from the search to the retrieval window. Runs inside the receive handler.
    virtual void FinishSearch() = 0;
    // Text that arrived while streaming: insert it into the retrieval window's text box at
    // its caret and move the caret to the end.
    virtual void AppendReceived(const QString& text) = 0;
    // The device is gone (the link check gave it up, or its port vanished while it was being
    // identified): hide the retrieval window, start a new search and show the search window.
    virtual void LinkLost() = 0;
};
