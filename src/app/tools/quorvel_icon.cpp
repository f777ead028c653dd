// Writes the program's own picture (quorvel::ProgramPixmap, the one the
// windows show) as PNG files for the desktop's icon theme.
//   quorvel-icon OUTDIR SIZE...   writes OUTDIR/<SIZE>.png for every SIZE
#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>
#include <string>

#include "app/icons.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: quorvel-icon OUTDIR SIZE...\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  for (int i = 2; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    const std::string file = std::string(argv[1]) + "/" + argv[i] + ".png";
    if (size <= 0 || !quorvel::ProgramPixmap(size).save(QString::fromStdString(file), "PNG")) {
      std::fprintf(stderr, "quorvel-icon: cannot write %s\n", file.c_str());
      return 1;
    }
  }
  return 0;
}
