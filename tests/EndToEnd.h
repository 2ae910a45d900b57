#pragma once
// The program's pieces put together as main() does, against the simulated device on a
// pseudo-terminal: settings in a temporary folder, the device plugged in, the link, scripted
// dialogs, and the search window (which creates the retrieval window at the hand-over) or the
// retrieval window on its own. A test class derives from it, calls SetUp from init() and
// TearDown from cleanup(), and reaches the pieces through the members.

#include "LinkWindows.h"
#include "PortCandidates.h"
#include "SimDevice.h"
#include "TestDialogs.h"
#include "TestSupport.h"
#include "clsReg.h"
#include "modMain.h"
#include "retrieve/frmMain.h"
#include "search/frmFind.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QtGlobal>
#include <functional>
#include <memory>

class EndToEnd : public QObject {
protected:
    // Everything but the windows. False when the temporary folder or the device's
    // pseudo-terminal cannot be made (the reason is logged).
    bool SetUp(const SimConfig& config = SimConfig()) {
        dir_ = std::make_unique<QTemporaryDir>();
        if (!dir_->isValid()) return false;
        qputenv("XDG_CONFIG_HOME", dir_->filePath(QStringLiteral("config")).toUtf8());
        sim_ = std::make_unique<SimDevice>(config);
        QString error;
        if (!sim_->plug(&error)) {
            qWarning("the simulated device cannot be plugged in: %s", qPrintable(error));
            return false;
        }
        link_ = std::make_unique<modMain>();
        dialogs_ = std::make_unique<TestDialogs>();
        return true;
    }

    // The search window, not yet loaded. Its candidates follow the simulated device, or with
    // `platformDiscovery` come from the platform's own source, as in the program.
    void MakeSearchWindow(bool platformDiscovery = false) {
        find_ = std::make_unique<frmFind>(*link_, *dialogs_);
        if (!platformDiscovery) find_->SetPortSource(std::make_unique<SimPortSource>(*sim_));
    }

    // The retrieval window alone, reporting to `windows`, with the settings store the search
    // window would have created.
    void MakeRetrievalWindow(LinkWindows& windows) {
        link_->Reg = std::make_unique<clsReg>();
        main_ = std::make_unique<frmMain>(*link_, *dialogs_);
        link_->SetWindows(&windows);
    }

    // Takes everything down, windows first. True when no busy pointer was left behind.
    bool TearDown() {
        const bool pointerBack = QApplication::overrideCursor() == nullptr;
        while (QApplication::overrideCursor())
            QApplication::restoreOverrideCursor();
        find_.reset();
        if (link_) link_->SetWindows(nullptr);
        main_.reset();
        dialogs_.reset();
        link_.reset();
        sim_.reset();
        dir_.reset();
        return pointerBack;
    }

    void SetDevice(const std::function<void(SimConfig&)>& change) {
        SimConfig config = sim_->config();
        change(config);
        sim_->setConfig(config);
    }

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<SimDevice> sim_;
    std::unique_ptr<modMain> link_;
    std::unique_ptr<TestDialogs> dialogs_;
    std::unique_ptr<frmFind> find_; // the program's way in
    std::unique_ptr<frmMain> main_; // only from MakeRetrievalWindow
};
