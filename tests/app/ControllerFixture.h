#pragma once

// A controller's surroundings for tests of its rules: preferences in a
// temporary file with the save folder in a temporary one, a library model over that
// folder, and every service faked but the status item.
#include "app/AppController.h"
#include "app/ControllerFakes.h"
#include "core/Preferences.h"
#include "support/TestSupport.h"
#include "ui/AppModel.h"

#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

struct FakeControllerServices {
    // STATUSITEM: a fake or the real one, which the test owns.
    AppController::Services services(StatusItemHost *statusItem)
    {
        AppController::Services s;
        s.screens = &screens;
        s.hotKeys = &hotKeys;
        s.desktop = &desktop;
        s.microphone = &microphone;
        s.alerts = &alerts;
        s.toast = &toast;
        s.picker = &picker;
        s.chrome = &chrome;
        s.windows = &windows;
        s.statusItem = statusItem;
        return s;
    }

    FakeScreens screens;
    FakeHotKeySource hotKeys;
    FakeDesktopServices desktop;
    FakeMicrophone microphone;
    FakeAlerts alerts;
    FakeToast toast;
    FakePicker picker;
    FakeChrome chrome;
    FakeWindows windows;
};

// The fakes outlive the controller: the fixture's own members go first.
class ControllerFixture : public ::testing::Test, protected FakeControllerServices {
protected:
    void SetUp() override
    {
        preferences.setSaveFolder(saves.filePath("Velunta"));
        AppModel::Services modelServices;
        modelServices.preferences = &preferences;
        model = std::make_unique<AppModel>(modelServices, saves.filePath("Velunta"), true, 3);
    }

    QTemporaryDir saves;
    QTemporaryDir settingsDir;
    Preferences preferences {settingsDir.filePath("Velunta.conf")};
    std::unique_ptr<AppModel> model;
};
