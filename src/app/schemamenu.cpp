// The server's schema for the profile dialog, and "Refresh Schema" in the
// server's context menu. The schema comes from the catalogue while it is a
// day old at most, else from the server (store/schemacache.h); the wait on
// the server runs off the window thread.
#include <QApplication>
#include <QTreeWidget>

#include "app/mainform.h"
#include "dialogs/busywork.h"
#include "dialogs/profileform.h"
#include "store/data.h"
#include "store/messages.h"
#include "store/schemacache.h"

using namespace quorvel;

namespace {

// While the profile dialog's schema is read, a server that cannot be reached
// is not worth an error box (the dialog works without a schema): its errors
// become lines in the message pane.
class TErrorsAsNotices : public TMessageSink {
 public:
  TErrorsAsNotices() : previous_(SetMessageSink(this)) {}
  ~TErrorsAsNotices() override { SetMessageSink(previous_); }
  void Error(const std::string& text) override { previous_->Notice(text); }
  void Info(const std::string& text) override { previous_->Info(text); }
  void Notice(const std::string& text) override { previous_->Notice(text); }
  bool Ask(const std::string& text) override { return previous_->Ask(text); }

 private:
  TMessageSink* previous_;
};

class TWaitCursor {
 public:
  TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
};

}  // namespace

std::shared_ptr<const TSchema> TMainForm::ServerSchema(const TNodeData& server, bool refresh) {
  if (!::data || !server.server) return nullptr;
  TServerSchema s;
  {
    TWaitCursor wait;
    std::optional<TErrorsAsNotices> quiet;
    if (!refresh) quiet.emplace();
    RunBusy([&] { s = SchemaForServer(*::data, *server.server, Trust(), refresh); });
  }
  if (s.available) return std::make_shared<const TSchema>(std::move(s.schema));
  if (s.connectFailed) {
    AddMessage(2, "ERR: The schema of " + server.name +
                      " could not be read: the server could not be reached.");
  } else if (s.newNote || refresh) {
    // Said once, when it is first found; a refresh asked for says it again.
    LogInfo(NoSchemaText(server.name, s.note));
  }
  return nullptr;
}

void TMainForm::ProvideSchema(TProfileForm& dialog, const TNodeData& server) {
  dialog.SetSchema(ServerSchema(server, false), server.name);
}

void TMainForm::r_schemaClick() {
  QTreeWidgetItem* sel = tv_workspace->currentItem();
  TNodeData* d = NodeData(sel);
  if (!d || d->kind != 0 || !d->server) return;
  AddMessage(0, "MSG: Reading the schema of " + d->name + "...");
  if (std::shared_ptr<const TSchema> schema = ServerSchema(*d, true))
    LogInfo("The schema of " + d->name +
            " was read: " + std::to_string(schema->AttributeTypes().size()) + " attribute types, " +
            std::to_string(schema->ObjectClasses().size()) + " object classes.");
}
