#include "framework/Listbox.h"

#include <QAbstractListModel>
#include <QListView>
#include <QMetaObject>
#include <QStyledItemDelegate>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>

#include "framework/qt/GuiBacking.h"

namespace fw {
namespace {

// Row texts, packed. A rebuild adds every call file's first line again, so
// rows are small fixed records pointing either into bytes a folder cache
// already holds (kept alive by their owner) or into the list's own chunks,
// which are filled in order and never move.
class RowStore {
 public:
  struct Row {
    const char* data;
    std::size_t size;
  };

  std::size_t size() const { return rows_.size(); }
  bool empty() const { return rows_.empty(); }
  std::string_view operator[](std::size_t i) const { return {rows_[i].data, rows_[i].size}; }

  void Add(const String& text) { rows_.push_back({Copy(text.data(), text.size()), text.size()}); }
  void Add(String&& text) {
    if (text.size() > kOwnBlock) {
      // A long row keeps the string it came in, copied nowhere.
      auto held = std::make_shared<const String>(std::move(text));
      rows_.push_back({held->data(), held->size()});
      Keep(held);
      return;
    }
    rows_.push_back({Copy(text.data(), text.size()), text.size()});
  }
  // A line that shares its bytes is shown from them; a partial one from its
  // start, read whole only when the row's text is asked for.
  void Add(const TextLine& line) {
    if (!line.SharedOwner()) return Add(String(line.View()));
    AddShared(line);
  }
  void Add(TextLine&& line) {
    if (!line.SharedOwner()) return Add(String(std::move(line)));
    AddShared(line);
  }
  // The row's whole text.
  String Text(std::size_t i) const {
    if (!partial_.empty()) {
      auto it = std::lower_bound(partial_.begin(), partial_.end(), i,
                                 [](const Partial& p, std::size_t row) { return p.row < row; });
      if (it != partial_.end() && it->row == i) return it->whole->WholeLine((*this)[i]);
    }
    return String((*this)[i]);
  }

  void Clear() {
    rows_.clear();  // the capacity stays: a rebuild adds about as many rows as it removed
    owners_.clear();
    partial_.clear();
    blocks_.clear();  // long rows are freed at once, so a huge one does not stay resident
    // Chunks are refilled by the rebuild that follows; what it leaves unused
    // is freed by Trim.
    Trim();
    for (auto& c : chunks_) spare_.push_back(std::move(c));
    chunks_.clear();
    used_ = kChunk;
  }
  // Keeps at most one spare chunk once a rebuild is done.
  void Trim() {
    if (spare_.size() > 1) spare_.resize(1);
  }

 private:
  static constexpr std::size_t kChunk = 256 * 1024;
  static constexpr std::size_t kOwnBlock = kChunk / 16;  // longer rows get a block of their own
  using Block = std::unique_ptr<char[]>;

  // Rows are added in order, so partial_ stays sorted by row.
  struct Partial {
    std::size_t row;
    TextLine::Source whole;
  };
  void AddShared(const TextLine& line) {
    rows_.push_back({line.View().data(), line.View().size()});
    Keep(line.SharedOwner());
    if (line.WholeSource()) partial_.push_back({rows_.size() - 1, line.WholeSource()});
  }
  // Rows come from the cache's chunks in order: most share the last owner kept.
  void Keep(const std::shared_ptr<const void>& owner) {
    if (owners_.empty() || owners_.back() != owner) owners_.push_back(owner);
  }
  const char* Copy(const char* p, std::size_t n) {
    if (n == 0) return "";
    if (n > kOwnBlock) {
      blocks_.push_back(Block(new char[n]));
      std::memcpy(blocks_.back().get(), p, n);
      return blocks_.back().get();
    }
    if (kChunk - used_ < n) {
      if (spare_.empty()) {
        chunks_.push_back(Block(new char[kChunk]));
      } else {
        chunks_.push_back(std::move(spare_.back()));
        spare_.pop_back();
      }
      used_ = 0;
    }
    char* at = chunks_.back().get() + used_;
    std::memcpy(at, p, n);
    used_ += n;
    return at;
  }

  std::vector<Row> rows_;
  std::vector<std::shared_ptr<const void>> owners_;
  std::vector<Partial> partial_;  // the few rows of very long lines
  std::vector<Block> chunks_, spare_, blocks_;
  std::size_t used_ = kChunk;  // bytes used of the last chunk
};

struct ListState : ControlKind {
  RowStore rows;
  Int32 listIndex = -1;
  bool resetPending = false;
  String font = "System";
  Int32 size = 0;
  bool bold = false, italic = false, underline = false;
  Int32 defaultRowHeight = -1;
};

ListState& State(const RectControl& c) { return static_cast<ListState&>(*c.backing().kind); }

// Serves the rows to the view. The view learns of changes only through one
// reset per rebuild, done when control returns to the event loop; until
// then rowCount keeps what the view last saw and data() stays in bounds.
class RowModel : public QAbstractListModel {
 public:
  RowModel(ListState* s, QObject* parent) : QAbstractListModel(parent), s_(s) {}
  int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : committed_; }
  QVariant data(const QModelIndex& index, int role) const override {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    const auto row = static_cast<std::size_t>(index.row());
    if (row >= s_->rows.size()) return QString();
    // A row is a call record; show a line's worth of it, never megabytes.
    const std::string_view r = s_->rows[row];
    QString text = gui::SafeText(String(r.substr(0, kShown)), kShown);
    if (r.size() > kShown) text += QChar(0x2026);
    return text;
  }
  void Commit() {
    s_->rows.Trim();
    beginResetModel();
    committed_ = static_cast<int>(std::min<std::size_t>(s_->rows.size(), INT32_MAX));
    endResetModel();
  }

 private:
  static constexpr std::size_t kShown = 1024;
  ListState* s_;
  int committed_ = 0;
};

// The program paints each cell's background before the text is drawn.
class CellDelegate : public QStyledItemDelegate {
 public:
  CellDelegate(Listbox* owner, ListState* s, QObject* parent) : QStyledItemDelegate(parent), owner_(owner), s_(s) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    if (owner_->CellBackgroundPaint.HasHandler()) {
      static Graphics::Backing context;  // outlives any Graphics a handler keeps
      const Graphics::Backing saved = context;
      context.painter = painter;
      context.size = option.rect.size();
      context.fore = Qt::black;
      painter->save();
      painter->translate(option.rect.topLeft());
      painter->setClipRect(QRect(QPoint(0, 0), option.rect.size()), Qt::IntersectClip);
      auto g = std::make_shared<Graphics>(&context);
      if (const ClassRecord* rec = FindClass(std::type_index(typeid(Graphics)))) AttachRecord(*g, rec);
      owner_->CellBackgroundPaint.Raise(Ref<Graphics>(g), index.row(), index.column());
      painter->restore();
      context = saved;
    }
    // Focus alone must not look like a selection: nothing is chosen until the user clicks.
    QStyleOptionViewItem opt(option);
    opt.state &= ~QStyle::State_HasFocus;
    QStyledItemDelegate::paint(painter, opt, index);
  }
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize s = QStyledItemDelegate::sizeHint(option, index);
    if (s_->defaultRowHeight > 0) s.setHeight(s_->defaultRowHeight);
    return s;
  }

 private:
  Listbox* owner_;
  ListState* s_;
};

QListView* View(const RectControl& c) { return static_cast<QListView*>(c.backing().widget.data()); }
RowModel* Model(const RectControl& c) {
  QListView* v = View(c);
  return v ? static_cast<RowModel*>(v->model()) : nullptr;
}

void ApplySelection(const Listbox& l) {
  QListView* v = View(l);
  if (!v || State(l).resetPending) return;
  const QSignalBlocker block(v->selectionModel());
  const Int32 row = State(l).listIndex;
  if (row < 0) {
    v->selectionModel()->clear();
  } else {
    const QModelIndex idx = v->model()->index(row, 0);
    v->selectionModel()->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect);
  }
  v->viewport()->update();
}

void ScheduleReset(Listbox& l) {
  ListState& s = State(l);
  QListView* v = View(l);
  if (s.resetPending || !v) return;
  s.resetPending = true;
  QMetaObject::invokeMethod(
      v,
      [&l] {
        State(l).resetPending = false;
        if (RowModel* m = Model(l)) m->Commit();
        ApplySelection(l);
      },
      Qt::QueuedConnection);
}

void ApplyFont(const Listbox& l) {
  const ListState& s = State(l);
  if (QListView* v = View(l)) v->setFont(gui::ControlFont(s.font, s.size, s.bold, s.italic, s.underline));
}

}  // namespace

Listbox::Listbox() {
  backing().kind = std::make_unique<ListState>();
  backing().takesFocus = [this] { return TabStop(); };
}

void Listbox::CreateWidget() {
  ListState& s = State(*this);
  auto* v = new QListView;
  v->setUniformItemSizes(true);
  v->setSelectionMode(QAbstractItemView::SingleSelection);
  v->setEditTriggers(QAbstractItemView::NoEditTriggers);
  v->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  v->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  v->setTextElideMode(Qt::ElideRight);
  v->setModel(new RowModel(&s, v));
  v->setItemDelegate(new CellDelegate(this, &s, v));
  QObject::connect(v->selectionModel(), &QItemSelectionModel::selectionChanged, v, [this, v] {
    const QModelIndexList rows = v->selectionModel()->selectedRows();
    State(*this).listIndex = rows.isEmpty() ? -1 : rows.first().row();
  });
  backing().Adopt(v);
  ApplyFont(*this);
  if (!s.rows.empty()) ScheduleReset(*this);
}

void Listbox::AddRow(const String& text) {
  State(*this).rows.Add(text);
  ScheduleReset(*this);
}

void Listbox::AddRow(String&& text) {
  State(*this).rows.Add(std::move(text));
  ScheduleReset(*this);
}

void Listbox::AddRow(const TextLine& line) {
  State(*this).rows.Add(line);
  ScheduleReset(*this);
}

void Listbox::AddRow(TextLine&& line) {
  State(*this).rows.Add(std::move(line));
  ScheduleReset(*this);
}

void Listbox::DeleteAllRows() {
  ListState& s = State(*this);
  s.rows.Clear();
  s.listIndex = -1;
  ScheduleReset(*this);
}

Int32 Listbox::ListCount() const { return static_cast<Int32>(State(*this).rows.size()); }

String Listbox::List(Int32 row) const {
  const RowStore& rows = State(*this).rows;
  if (row < 0 || static_cast<std::size_t>(row) >= rows.size()) return String();
  return rows.Text(static_cast<std::size_t>(row));
}

Int32 Listbox::ListIndex() const { return State(*this).listIndex; }
void Listbox::ListIndex(Int32 row) {
  ListState& s = State(*this);
  s.listIndex = row >= 0 && static_cast<std::size_t>(row) < s.rows.size() ? row : -1;
  ApplySelection(*this);
}

String Listbox::TextFont() const { return State(*this).font; }
void Listbox::TextFont(const String& f) {
  State(*this).font = f;
  ApplyFont(*this);
}
Int32 Listbox::TextSize() const { return State(*this).size; }
void Listbox::TextSize(Int32 s) {
  State(*this).size = s;
  ApplyFont(*this);
}

namespace gui {

void ListStyle(Listbox& l, const String& prop, const PropValue& v) {
  ListState& s = State(l);
  QListView* view = View(l);
  auto flag = [&] { return std::get<bool>(v); };
  if (prop == "Bold") s.bold = flag();
  else if (prop == "Italic") s.italic = flag();
  else if (prop == "Underline") s.underline = flag();
  else if (prop == "DefaultRowHeight") s.defaultRowHeight = std::get<Int32>(v);
  if (prop == "Bold" || prop == "Italic" || prop == "Underline") ApplyFont(l);
  if (!view) return;
  if (prop == "Border") view->setFrameShape(flag() ? QFrame::StyledPanel : QFrame::NoFrame);
  if (prop == "ScrollbarHorizontal") view->setHorizontalScrollBarPolicy(flag() ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  if (prop == "ScrollBarVertical") view->setVerticalScrollBarPolicy(flag() ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  if (prop == "SelectionType")
    view->setSelectionMode(std::get<Int32>(v) == 1 ? QAbstractItemView::ExtendedSelection
                                                   : QAbstractItemView::SingleSelection);
  if (prop == "DefaultRowHeight") view->doItemsLayout();
}

}  // namespace gui
}  // namespace fw
