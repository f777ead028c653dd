// The main window under test: a private program folder (a copy of the build's
// lib/ and help/), a catalogue filled for the test, the real window on the
// offscreen platform, and the test seam answering its boxes and dialogs.
#pragma once

#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "app/mainform.h"
#include "dialogs/testseam.h"
#include "store/data.h"
#include "store/nodedata.h"

namespace quorvel::test {

struct TServerRow {
  TServerRow(std::string n, std::string h, int p, std::string s = "N", std::string u = "",
             std::string w = "", std::string b = "")
      : name(std::move(n)),
        host(std::move(h)),
        port(p),
        ssl(std::move(s)),
        uid(std::move(u)),
        pwd(std::move(w)),
        basedn(std::move(b)) {}
  std::string name, host;
  int port = 389;
  std::string ssl, uid, pwd, basedn;
  std::string referrals = "report";
};
struct TProfileRow {
  std::string name;
  int server = 0;  // index into the servers given, or -1 for a server id that does not exist
  std::string basedn;
  int scope = 2;
  std::string filter, att;
};

class TGuiTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Fills the catalogue of the private folder (before Start).
  void Catalogue(const std::vector<TServerRow>& servers,
                 const std::vector<TProfileRow>& profiles = {});
  // Creates the data module and the main window.
  void Start(bool withHelp = true);

  // The item of a tree at a path of captions below its root ({} = the root).
  QTreeWidgetItem* Item(QTreeWidget* tv, const QStringList& path);
  // A left click (press and release) on an item, as the user does it.
  void Click(QTreeWidget* tv, QTreeWidgetItem* item, Qt::MouseButton b = Qt::LeftButton);
  // A right click, then the popup opens; returns the captions of its visible
  // entries ("-" for a visible separator).
  QStringList OpenPopup(QTreeWidget* tv, QTreeWidgetItem* item);
  // The captions of the children of an item.
  static QStringList Captions(QTreeWidgetItem* item);
  // Every row of a catalogue table as "col=value|col=value" texts, read from the file.
  std::vector<std::string> CatalogueRows(const std::string& table, const std::string& columns);
  // The grid's cells as texts.
  QString Cell(int row, int col) const;
  QStringList Columns() const;

  std::string folder_;
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<TTestSeam> seam_;
  std::unique_ptr<Tdata> module_;
  std::unique_ptr<TMainForm> form_;
  std::vector<int> serverIds_;
};

}  // namespace quorvel::test
