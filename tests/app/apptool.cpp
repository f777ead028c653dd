#include "app/apptool.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "store/data.h"

namespace quorvel::tool {

std::string PrepareProgramFolder(const std::string& buildDir, const std::string& sourceDir,
                                 const std::string& folder) {
  const QString root = QString::fromStdString(folder);
  const QString build = QString::fromStdString(buildDir);
  for (const char* sub : {"lib", "help", "data"})
    if (!QDir().mkpath(root + sub)) return std::string("cannot create ") + sub;
  for (const char* f : {"quorvel.db", "dump.db"})
    if (!QFile::copy(build + "/lib/" + f, root + "lib/" + f))
      return "cannot copy " + buildDir + "/lib/" + f;
  const QString engine = QFileInfo(build + "/lib/quorvel.so").canonicalFilePath();
  if (engine.isEmpty() || !QFile::link(engine, root + "lib/quorvel.so"))
    return "cannot link the engine library of " + buildDir;
  const QString help = QString::fromStdString(sourceDir) + "/help/";
  for (const QString& f : QDir(help).entryList({"*.html"}))
    QFile::copy(help + f, root + "help/" + f);
  return std::string();
}

bool OpenProgramFolder(Tdata& d, const std::string& folder) {
  return InitDatabases(d, folder + "lib/quorvel.db", folder + "lib/dump.db",
                       folder + "lib/quorvel.so");
}

std::string PrepareProgramFolder(const std::string& buildDir, const std::string& sourceDir,
                                 const std::string& folder,
                                 const std::function<void(Tdata&)>& fill) {
  if (std::string err = PrepareProgramFolder(buildDir, sourceDir, folder); !err.empty()) return err;
  Tdata d;
  if (!OpenProgramFolder(d, folder)) return "cannot open the catalogue of " + folder;
  fill(d);
  return std::string();
}

}  // namespace quorvel::tool
