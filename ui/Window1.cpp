// The main window's behaviour: the listener, the fold, the list of call files.
#include "ui/Window1.h"

#include "capture/App.h"
#include "capture/IPSocket.h"
#include "framework/FolderItem.h"
#include "framework/Graphics.h"
#include "framework/Strings.h"
#include "framework/TextInputStream.h"
#include "ui/LayoutTable.h"

namespace {

constexpr fw::Int32 kFolded = 30;
constexpr fw::Int32 kUnfolded = 400;

}  // namespace

void Window1::Event_Open() { ui::ControlNamed<fw::ServerSocket>(*this, "ipServer")->Listen(); }

fw::Ref<fw::TCPSocket> Window1::ipServer_AddSocket() { return fw::New<IPSocket>(); }

// The listener may fail while the window is still being built, before the
// accessor can find it, so the window that owns the listener writes its own
// status line.
void Window1::ipServer_Error(fw::Int32) {
  ui::ControlNamed<fw::StaticText>(*this, "portStatus")->Text("Unable to use IP sockets");
}

// The height alone decides, so a window at any other height (the layout's
// 403) folds.
void Window1::DisclosureTriangle1_Action() { Height(Height() == kFolded ? kUnfolded : kFolded); }

void Window1::fileList_Open() { updateFileList(); }

bool Window1::callStatus_MouseDown(fw::Int32, fw::Int32) {
  updateFileList();
  return false;
}

bool Window1::fileList_CellBackgroundPaint(fw::Ref<fw::Graphics> g, fw::Int32 row, fw::Int32) {
  double half = static_cast<double>(row) / 2.0;
  if (half == fw::Round(half)) {
    g->ForeColor(fw::RGB(250, 250, 250));
    g->FillRect(0, 0, g->Width(), g->Height());
  }
  return false;
}

// The folder is fetched anew on every pass, so files that come or go while
// the list is built move the bound of the following passes.
void Window1::updateFileList() {
  fw::Ref<fw::Listbox> list = ui::ControlNamed<fw::Listbox>(*this, "fileList");
  list->DeleteAllRows();
  fw::Int32 count = 0;
  for (fw::Int32 i = 1;; ++i) {
    // Fetched afresh before every pass; the application object outlives the loop.
    const fw::Ref<fw::FolderItem>& folder = App()->pref_path;
    if (folder->Count() < i) break;
    fw::Ref<fw::FolderItem> item = folder->Item(i);
    // An item that vanished after it was counted is no longer a call file.
    if (!item) continue;
    if (!fw::StrEqual(item->MacType(), "TEXT")) continue;
    count += 1;
    fw::Ref<fw::TextInputStream> stream = item->OpenAsTextFile();
    if (!stream) {
      // A call file that cannot be read is still a call: it keeps its row,
      // under its name, and the rest of the folder is still listed.
      fw::RuntimeUnhandledException(fw::IOException("cannot read call file " + item->NativePath()),
                                    "Window1.updateFileList");
      list->AddRow(item->Name());
      continue;
    }
    list->AddRow(stream->ReadLine());
    stream->Close();
  }
  ui::ControlNamed<fw::StaticText>(*this, "callStatus")
      ->Text(fw::Str(count) + (count == 1 ? " call collected" : " calls collected"));
}
