// The main window and the server's schema: the profile dialog gets the
// schema of the private slapd (read once, then from the catalogue), a server
// without a schema is said so once, one that cannot be reached only in the
// message pane, and Refresh Schema reads it again and says what came.
#include <QPushButton>
#include <QTreeWidget>

#include "app/guifixture.h"
#include "common/fake_server.h"
#include "common/scripted_directory.h"
#include "common/slapd_env.h"
#include "dialogs/profileform.h"
#include "store/schemacache.h"

using quorvel::test::TServerRow;

namespace {

class SchemaAppTest : public quorvel::test::TGuiTest {
 protected:
  // Opens New Profile on the server and returns whether its dialog had a
  // schema with mail in it.
  bool NewProfileHasSchema(const QString& server) {
    bool has = false;
    seam_->dialogs.push_back([&](QDialog& d) {
      auto& f = dynamic_cast<TProfileForm&>(d);
      has = f.Schema() && f.Schema()->FindAttribute("mail") && f.btnchoose->isEnabled();
      d.reject();
    });
    Click(form_->tv_workspace, Item(form_->tv_workspace, {server}));
    form_->n_profileClick();
    return has;
  }
};

}  // namespace

TEST_F(SchemaAppTest, TheDialogGetsTheSchemaOnceAndRefreshReadsItAgain) {
  const auto& env = quorvel::test::Slapd();
  QUORVEL_REQUIRE_SLAPD(env);
  quorvel::test::ScriptedDirectory bare;
  bare.Add("o=x", {{"o", {"x"}}});
  quorvel::test::FakeServer first, second;
  bare.ServeOn(first);
  first.Start();
  Catalogue({TServerRow("dir", env.host, env.port, "N", env.adminDn, env.adminPw),
             TServerRow("bare", "127.0.0.1", first.Port()), TServerRow("closed", "127.0.0.1", 1)});
  Start();

  EXPECT_TRUE(NewProfileHasSchema("dir"));
  const auto kept = quorvel::StoredSchema(*module_, serverIds_[0]);
  ASSERT_TRUE(kept.has_value());
  EXPECT_TRUE(kept->note.empty());
  EXPECT_FALSE(kept->attributeTypes.empty());
  EXPECT_TRUE(seam_->boxes.empty());

  // No schema: one box the first time, none the next (the catalogue keeps
  // the note; the scripted directory is gone by then and is not asked).
  EXPECT_FALSE(NewProfileHasSchema("bare"));
  const QStringList infos = seam_->Texts(TUiSeam::bkInformation);
  ASSERT_EQ(infos.size(), 1);
  EXPECT_EQ(infos[0],
            "The server \"bare\" publishes no readable schema (its root DSE names no "
            "subschema entry); attribute names and filters are not checked against it.");
  EXPECT_FALSE(NewProfileHasSchema("bare"));
  EXPECT_EQ(seam_->Texts(TUiSeam::bkInformation).size(), 1);

  // Unreachable: a line in the pane, no box.
  EXPECT_FALSE(NewProfileHasSchema("closed"));
  EXPECT_EQ(seam_->boxes.size(), 1u);
  EXPECT_TRUE(form_->PaneLines().join("\n").contains(
      "ERR: The schema of closed could not be read: the server could not be reached."));

  // Refresh Schema: read again, and said.
  Click(form_->tv_workspace, Item(form_->tv_workspace, {"dir"}));
  form_->r_schemaClick();
  const QStringList after = seam_->Texts(TUiSeam::bkInformation);
  ASSERT_EQ(after.size(), 2);
  EXPECT_TRUE(after[1].startsWith("The schema of dir was read: ")) << after[1].toStdString();
  EXPECT_TRUE(after[1].contains(" attribute types, ")) << after[1].toStdString();
}
