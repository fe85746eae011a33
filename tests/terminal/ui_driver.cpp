// Drives the host's console UI on a real terminal, for the tmux test. With no argument: a message
// window with emphasis and tab stops, a progress display run to its end, one stopped with Esc,
// and the import dialog from its description record with a key handler like the module's.
// "dialog": the import dialog alone; "message": a long message that asks OK or Cancel. "warehouse
// DIR N...": the warehouse prompt in the shop folder DIR, once for each number N passed in as the
// current warehouse.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "velkar/shop/codepage.h"
#include "velkar/core/host_state.h"
#include "velkar/core/host_functions.h"
#include "velkar/console/ui.h"

namespace {

std::string mz(const std::string& utf8) {
  return velkar::codepage::fromUtf8(utf8, velkar::codepage::MAZOVIA);
}

// A dialog description record, item by item.
struct Record {
  std::vector<unsigned char> body;
  unsigned count = 0;

  void u16(unsigned v) {
    body.push_back(static_cast<unsigned char>(v & 0xFF));
    body.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
  }
  Record& item(unsigned type, unsigned id, unsigned flags, unsigned hotKey, unsigned col,
               unsigned row, unsigned width, unsigned height, const std::string& utf8) {
    if (type == 5) {
      u16(5);
      u16(38);
    }
    for (unsigned v : {type, id, flags, hotKey, col, row, width, height, 0u, 0u}) u16(v);
    if (type == 5)
      for (unsigned v : {0u, 0u, 0u, 0u, 128u, 8u, 0u, 128u, 1u}) u16(v);
    const std::string text = mz(utf8);
    body.insert(body.end(), text.begin(), text.end());
    body.push_back(0);
    if (type != 0xFFFF) ++count;
    return *this;
  }
  std::vector<unsigned char> bytes() const {
    std::vector<unsigned char> r;
    const unsigned after = static_cast<unsigned>(body.size() + 4);
    for (unsigned v : {after & 0xFFFF, after >> 16, unsigned(body.size()), count}) {
      r.push_back(static_cast<unsigned char>(v & 0xFF));
      r.push_back(static_cast<unsigned char>(v >> 8));
    }
    r.insert(r.end(), body.begin(), body.end());
    return r;
  }
};

struct ImportData {
  char fileName[129];
  unsigned char format[2];
};
ImportData data;

// Like the module's handler: F3 on the file-name item puts a name into the dialog.
HOST_STDCALL int keys(unsigned short key, unsigned short item) {
  if (key != 0x3D00 || item != 1) return 0;
  velkar::fn::exchangeDialogData(&data, 1);
  std::strcpy(data.fileName, "z_f3.csv");
  velkar::fn::exchangeDialogData(&data, 0);
  velkar::fn::notifyDialogItem(0x4101);
  return -2;
}

void progress(int steps, int pauseMs) {
  velkar::fn::beginProgress(238);
  int done = 0;
  for (; done <= steps; ++done) {
    velkar::fn::updateProgress(done, steps);
    if (velkar::fn::stopRequested()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
  }
  velkar::fn::endProgress();
  if (done <= steps)
    std::printf("STOPPED AT %d\n", done);
  else
    std::printf("PROGRESS DONE\n");
  std::fflush(stdout);
}

int importDialog() {
  Record r;
  r.item(0xFFFF, 1, 0, 0, 0, 0, 65, 18, "Wprowadź")
      .item(3, 0xFFFF, 0, 0x0050, 2, 2, 23, 1, "~P~lik towarów:")
      .item(5, 0x4101, 0x0400, 0, 2, 3, 41, 1, "")
      .item(0, 0x3D00, 0x0180, 0x3D00, 43, 3, 20, 1,
            "\x05"
            "F3\x01 Zmień plik")
      .item(3, 0xFFFF, 0, 0, 2, 5, 13, 1, "Format pliku:")
      .item(1, 0xFFFF, 0x0400, 0, 2, 6, 60, 1, "KOD_KRESOWY,STAWKA_VAT[CR][LF]")
      .item(1, 0xFFFF, 0x0400, 0, 2, 7, 60, 1, "CZĘŚĆ NAZWY TOWARU,STAWKA_VAT[CR][LF]")
      .item(1, 0xFFFF, 0x0400, 0, 2, 8, 60, 1, "KOD_KRESOWY,Kod CN[CR][LF]")
      .item(4, 0xFFFF, 0, 0, 2, 10, 60, 4,
            "Plik importowany ma być w formacie tekstowym:\nKOD_KRESOWY,STAWKA_VAT[CR][LF]\nlub\n"
            "CZĘŚĆ_NAZWY_TOWARU,STAWKA_VAT[CR][LF]")
      .item(0, 0x5001, 0, 0x8600, 27, 15, 10, 1,
            "\x05"
            "F12\x01 OK");
  const std::vector<unsigned char> record = r.bytes();
  std::strcpy(data.fileName, "Nowe_stawki_VAT.csv");
  const int result = velkar::fn::runDialog(record.data(), 1, &data, keys, 0) & 0xFFFF;
  std::printf("RESULT 0x%04X FILE=%s FORMAT=%d\n", result,
              velkar::codepage::toUtf8(data.fileName, velkar::codepage::MAZOVIA).c_str(),
              data.format[0] | data.format[1] << 8);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  velkar::resetHost();
  velkar::ui::setInteractive(true);
  const std::string scenario = argc > 1 ? argv[1] : "";
  if (scenario == "dialog") return importDialog();
  if (scenario == "message") {
    const std::string text =
        mz("Opcja umożliwia wczytanie nowych stawek VAT z pliku tekstowego.\n\nProgram po "
           "wczytaniu danych z pliku wpisze je do pola 'nowa stawka VAT'. Stawki nie zostana "
           "jednak zmieniona do chwili uruchomienia specjalnej opcji w przeddzień zmiany stawek "
           "VAT.");
    const int answer = velkar::fn::showMessage("uwaga", text.c_str(), 8);
    std::printf("ANSWER 0x%04X\n", answer & 0xFFFF);
    return 0;
  }
  if (scenario == "warehouse" && argc > 2) {
    velkar::host().shopDir = argv[2];
    for (int i = 3; i < argc; ++i) {
      const int chosen = velkar::fn::chooseWarehouse(std::atoi(argv[i]), 680, 0);
      std::printf("WAREHOUSE=%d\n", chosen);
      std::fflush(stdout);
    }
    return 0;
  }

  const std::string text =
      mz("\x01tp30\x01Ilość towarów:\t\x02"
         "12\nNowe stawki VAT:\t\x02"
         "3456\n\n"
         "\x01tl4l20\x01\tlewa\tprawa\nModuł \x02vatupdate.dll\x01 gotowy");
  velkar::fn::showMessage("uwaga", text.c_str(), 1);

  std::printf("PROGRESS 1\n");
  progress(100, 3);
  std::printf("PROGRESS 2\n");
  progress(100000, 2);
  velkar::fn::showMessage("uwaga", "Koniec", 1);

  return importDialog();
}
