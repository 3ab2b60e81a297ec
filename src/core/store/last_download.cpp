#include "core/store/last_download.h"

#include "core/history/download_new.h"

namespace norvane::store {

std::optional<LastDownload> FindLastDownload(Store& store, std::string_view version, uint32_t image_size) {
  Statement find(store.database().handle(),
                 "SELECT l.counter, l.time, l.image_size, l.data FROM last_downloads l "
                 "JOIN counters c ON c.id = l.counter "
                 "WHERE c.version = ?1 AND c.name IS NULL AND l.image_size = ?2 ORDER BY c.id LIMIT 1");
  find.Bind(1, version).Bind(2, int64_t{image_size});
  if (!find.Step()) return std::nullopt;
  LastDownload last;
  last.counter = find.Int(0);
  last.time = find.Int(1);
  last.image_size = static_cast<uint32_t>(find.Int(2));
  const std::span<const uint8_t> data = find.Blob(3);
  // An empty or oversized row is no baseline to continue from.
  if (data.empty() || data.size() > last.image_size) return std::nullopt;
  last.data.assign(data.begin(), data.end());
  return last;
}

void KeepLastDownload(Store& store, CounterId counter, std::span<const uint8_t> image, int64_t now) {
  Statement keep(store.database().handle(),
                 "INSERT OR REPLACE INTO last_downloads(counter, time, image_size, data) VALUES(?1, ?2, ?3, ?4)");
  keep.Bind(1, counter).Bind(2, now).Bind(3, static_cast<int64_t>(image.size()));
  keep.BindBlob(4, image.first(ImageDataEnd(image)));
  keep.Run();
}

}  // namespace norvane::store
