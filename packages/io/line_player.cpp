// LinePlayer: the shared part of the line-based players.
#include "line_player.h"

#include <cerrno>
#include <cstring>

namespace velquor_io {

void LinePlayer::Dynamic() {
  NotePath();
  DAXOComponent::Dynamic();
}

std::string LinePlayer::NotePath() {
  std::string path = StringProperty(*this, KyPlayerPath);
  m_inputNote.Note(path);
  return path;
}

void LinePlayer::Birth() {
  m_path = StringProperty(*this, KyPlayerPath);
  m_played = 0;
  m_lastTime = 0;
  DirectSet(*Property(KyPlayerPackets), 0L);
  if (m_path.empty()) Error("velquor_io: the property \"path\" is empty");
  if (!m_reader.Open(m_path)) Error(FileFault(m_path, std::strerror(errno)).c_str());
}

void LinePlayer::Death() {
  m_reader.Close();
}

bool LinePlayer::NextLine(std::string_view& line, bool (*blank)(std::string_view)) {
  do {
    if (!m_reader.Next(line)) {
      if (m_reader.Failed()) Error(FileFault(m_path, "read error").c_str());
      return false;
    }
  } while (blank(line));
  return true;
}

void LinePlayer::LineFault(std::string_view detail) {
  Error(FileFault(m_path, "line", m_reader.LineNumber(), detail).c_str());
  // Error throws; the compiler cannot see that through the virtual call.
  throw DAXO::ErrorException;
}

void LinePlayer::Played(long items, std::int64_t lastTime) {
  m_played += items;
  m_lastTime = lastTime;
  DirectSet(*Property(KyPlayerPackets), m_played);
}

void LinePlayer::EndOfFile() {
  m_reader.Close();
  if (!WriteEndOfFile(*this, Output(1), m_played > 0 ? SampleTimestamp(m_lastTime) : 0)) return;
  CommitSuicide();
}

}  // namespace velquor_io
