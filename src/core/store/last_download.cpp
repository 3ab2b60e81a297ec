#include "core/store/last_download.h"

#include "core/history/download_new.h"
#include "core/store/store.h"
#include "core/store/store_statements.h"

namespace norvane::store {

std::optional<LastDownload> FindLastDownload(CounterStore& store, std::string_view version, uint32_t image_size) {
  std::optional<LastDownload> last = store.LastDownloadRow(version, image_size);
  // An empty or oversized row is no baseline to continue from.
  if (!last || last->data.empty() || last->data.size() > last->image_size) return std::nullopt;
  return last;
}

void KeepLastDownload(CounterStore& store, CounterId counter, std::span<const uint8_t> image, int64_t now) {
  store.PutLastDownload(counter, image.first(ImageDataEnd(image)), now, static_cast<uint32_t>(image.size()));
}

std::optional<LastDownload> Store::LastDownloadRow(std::string_view version, uint32_t image_size) {
  Statement find(db_.handle(),
                 "SELECT l.counter, l.time, l.image_size, l.data FROM last_downloads l "
                 "JOIN counters c ON c.id = l.counter "
                 "WHERE c.version = ?1 AND c.name IS NULL AND l.image_size = ?2 ORDER BY c.id LIMIT 1");
  find.Bind(1, version).Bind(2, int64_t{image_size});
  if (!find.Step()) return std::nullopt;
  const std::span<const uint8_t> data = find.Blob(3);
  return LastDownload{find.Int(0), find.Int(1), static_cast<uint32_t>(find.Int(2)), {data.begin(), data.end()}};
}

void Store::PutLastDownload(CounterId counter, std::span<const uint8_t> data, int64_t now, uint32_t image_size) {
  Statement keep(db_.handle(),
                 "INSERT OR REPLACE INTO last_downloads(counter, time, image_size, data) VALUES(?1, ?2, ?3, ?4)");
  keep.Bind(1, counter).Bind(2, now).Bind(3, int64_t{image_size});
  keep.BindBlob(4, data);
  keep.Run();
}

}  // namespace norvane::store
