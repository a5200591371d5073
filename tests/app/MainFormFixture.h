// A main window for widget tests: scripted message boxes, a recorder in place of the
// desktop's "open", the application title set, and the window's rows given by the test
// instead of the scan of the user's Favorites folder.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QItemSelectionModel>
#include <QTreeView>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "RunLoop.h"
#include "ScriptedMessageBoxes.h"
#include "app/FavoriteModel.h"
#include "app/MainUnit.h"
#include "app/ShellOpen.h"
#include "sys/Application.h"

inline TFavoriteRow FixtureRow(int i) {
    std::string n = std::to_string(i);
    return {"Seite " + n,
            "Ordner/",
            "???",
            "https://s" + n + ".example/",
            "/fav/Ordner/Seite " + n + ".url",
            0};
}

class MainFormTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sys::Application::Instance().Title = "Quorvane 1.0";
        previousOpen_ = SetShellOpenHandler([this](const std::string& t) { Opened.push_back(t); });
    }
    void TearDown() override {
        Form.reset();
        TMainForm::SetScanHook(nullptr);
        SetShellOpenHandler(previousOpen_);
    }

    // Creates the window; its scan yields `rows` fixture rows.
    TMainForm& Create(int rows = 0) {
        TMainForm::SetScanHook([rows](TMainForm& form) {
            for (int i = 0; i < rows; ++i)
                form.Favorites.Append(FixtureRow(i));
        });
        Form = std::make_unique<TMainForm>();
        return *Form;
    }

    // Creates, shows and activates the window, so that keys and shortcuts reach it.
    TMainForm& CreateShown(int rows = 0) {
        TMainForm& form = Create(rows);
        form.show();
        form.activateWindow();
        EXPECT_TRUE(testsupport::RunLoopUntil(
            [&] { return QApplication::activeWindow() == &form && form.isVisible(); }));
        return form;
    }

    // Selects exactly the given rows of the list.
    void Select(std::initializer_list<int> rows) {
        auto* selection = Form->ListView1->selectionModel();
        selection->clearSelection();
        for (int row : rows)
            selection->select(Form->ListModel->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    TScriptedMessageBoxesScope Boxes;
    std::vector<std::string> Opened;
    std::unique_ptr<TMainForm> Form;

  private:
    TShellOpenHandler previousOpen_;
};
