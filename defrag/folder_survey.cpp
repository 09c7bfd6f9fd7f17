// The survey of a folder for the preview of a boost: what a folder run would find, with nothing
// moved. It goes through the engine's own inspection calls, so that what it counts as fragmented
// is what a folder run would move.
#include <algorithm>

#include "common/wide.h"
#include "defrag/fast_defrag_engine.h"
#include "search/find_file.h"

namespace kestrava {
namespace {

// What the volume's disk says of seeks; any failure (an older Windows, a disk that cannot say, a
// volume that does not open now) is not knowing.
SeekPenalty AskSeekPenalty(VolumeDevicePort& volume, char drive) {
  DeviceHandle device(volume);
  if (volume.OpenVolume(std::string("\\\\.\\") + drive + ':', device.Put()) != err::kSuccess) {
    return SeekPenalty::kUnknown;
  }
  bool incurs = false;
  if (volume.SeekPenalty(device.Get(), &incurs) != err::kSuccess) return SeekPenalty::kUnknown;
  return incurs ? SeekPenalty::kIncurs : SeekPenalty::kNone;
}

}  // namespace

bool TFastDefragEngine::SurveyFolder(const std::string& folder, bool filesOnly,
                                     FolderSurvey& survey) {
  const char drive = folder.empty() ? '\0' : folder[0];
  if (!ScanFreeSpace(drive)) return false;  // raises when the volume cannot be opened
  for (const TFreeRun& run : FreeRuns) {
    survey.freeClusters += static_cast<std::uint64_t>(run.ClusterCount);
    survey.largestFreeRun =
        std::max(survey.largestFreeRun, static_cast<std::uint64_t>(run.ClusterCount));
  }
  survey.seekPenalty = AskSeekPenalty(*ports_.volume, drive);

  // The items a folder run would visit, inspected as it inspects them.
  const MatchHandler count = [this, &survey](TFindFile& sender, const TFileDetails& fileInfo,
                                             const std::string& path, ItemReach reach) {
    DoProgress(AnsiToWide(path));
    if (Aborted) {
      sender.Abort();
      return;
    }
    ++survey.items;
    if (reach != ItemReach::kOnVolume) return;  // passed over by a run, never moved
    const bool isFile = (fileInfo.Attributes & attr::kDirectory) == 0;
    std::int64_t size = 0;
    if (!IsFileContiguous(path, isFile, size)) {
      ++survey.fragmented;
      survey.fragmentedClusters += GetClusterCount(path, isFile);
    }
  };
  SearchFolder(folder, filesOnly, count);
  return true;
}

}  // namespace kestrava
