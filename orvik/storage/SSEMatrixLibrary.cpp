// The keyed matrix library: entry map, library file, loading and storing.
//
// An entry coded against a reference is only as good as the reference a reader
// will decode. Loading and storing therefore walk the references once, from
// the entries coded on their own outward, and hand every entry the reference as
// it was just decoded: a chain of n entries costs n codings, and the error a
// Store records is the error of the file it wrote.
#include "orvik/storage/SSEMatrixLibrary.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "orvik/foundation/platform/Archive.h"
#include "orvik/foundation/platform/AtomicFile.h"
#include "orvik/foundation/qe/Directory.h"
#include "orvik/foundation/qe/StreamBinaryFile.h"

namespace {

constexpr const char* c_szTag = "SSEMatrixLibrary";
constexpr std::uint32_t c_uiVersion = 2;

[[noreturn]] void damaged(int line, const char* function, const char* detail) {
  throw CbException("SSEMatrixLibrary", line, function, detail);
}

bool sameFile(const CString& a, const CString& b) {
  std::error_code error;
  return std::filesystem::equivalent(a.str(), b.str(), error);
}

}  // namespace

// The values of a set of entries and of the references they need, each entry
// read (and, when recoding, coded) once, references before the entries coded
// against them; a value is released as soon as the last entry needing it is done.
class UxCSSEMatrixLibrary::CChainWalk {
 public:
  struct SNode {
    const SFileInfo* info = nullptr;
    std::ptrdiff_t parent = -1;  // the reference, when this entry needs it
    std::vector<std::size_t> children;
    std::size_t pending = 0;  // children not yet done
    bool target = false;
    CSSEMatrix value;   // the library's value
    CSSEMatrix stored;  // recoding: what a reader of the new file decodes
    CbStreamWriteBinaryBuffer body;
    float error = 0.0f;
  };

  // recode: code every entry as Store does; keepTargets: the targets' matrices
  // are the result (else only their bodies and errors are).
  CChainWalk(const UxCSSEMatrixLibrary& library, bool recode, bool keepTargets)
      : m_library(library), m_recode(recode), m_keepTargets(keepTargets) {}

  // Adds an entry and the chain of references it needs; false when one is
  // missing.
  bool Add(const CString& id) {
    CString current = id;
    std::ptrdiff_t child = -1;
    for (;;) {
      const SFileInfo* info = m_library.m_entries.Find(current);
      if (!info) return false;
      const auto [it, fresh] = m_index.try_emplace(current, m_nodes.size());
      if (fresh) m_nodes.emplace_back().info = info;
      SNode& node = m_nodes[it->second];
      if (child < 0) {
        node.target = true;
      } else {
        m_nodes[child].parent = static_cast<std::ptrdiff_t>(it->second);
        node.children.push_back(static_cast<std::size_t>(child));
        ++node.pending;
      }
      if (!fresh || !needsReference(*info)) return true;
      child = static_cast<std::ptrdiff_t>(it->second);
      current = info->m_strReferenceID;
    }
  }

  // False when an entry fails to read or code, or when references run in a
  // cycle (its entries are never reached from an entry without reference).
  bool Run() {
    std::vector<std::size_t> ready;
    for (std::size_t i = 0; i < m_nodes.size(); ++i)
      if (m_nodes[i].parent < 0) ready.push_back(i);
    std::size_t done = 0;
    while (!ready.empty()) {
      const std::size_t i = ready.back();
      ready.pop_back();
      if (!process(m_nodes[i])) return false;
      ++done;
      ready.insert(ready.end(), m_nodes[i].children.begin(), m_nodes[i].children.end());
      if (m_nodes[i].pending == 0) release(m_nodes[i]);
      if (m_nodes[i].parent >= 0) {
        SNode& parent = m_nodes[static_cast<std::size_t>(m_nodes[i].parent)];
        if (--parent.pending == 0) release(parent);
      }
    }
    return done == m_nodes.size();
  }

  SNode& Get(const CString& id) { return m_nodes[m_index.at(id)]; }

 private:
  bool needsReference(const SFileInfo& info) const {
    if (info.m_strReferenceID.IsEmpty()) return false;
    return m_recode || (info.m_uiPosition != SFileInfo::c_uNoPosition && m_library.m_uiFileVersion >= 2);
  }

  bool process(SNode& node) {
    const SNode* parent = node.parent >= 0 ? &m_nodes[static_cast<std::size_t>(node.parent)] : nullptr;
    if (!m_library.readEntry(*node.info, parent ? &parent->value : nullptr, node.value)) return false;
    if (!m_recode) return true;
    const UxSCompressionParameters& parameters = m_library.parametersOf(*node.info);
    if (parent)
      return m_library.codeDifference(node.body, node.value, parent->stored, parameters, node.error,
                                      node.stored);
    return codePlain(node.body, node.value, parameters, node.error, node.stored);
  }

  void release(SNode& node) {
    if (node.target && m_keepTargets) return;
    node.value.Reset();
    node.stored.Reset();
  }

  const UxCSSEMatrixLibrary& m_library;
  const bool m_recode, m_keepTargets;
  std::deque<SNode> m_nodes;
  std::unordered_map<CString, std::size_t> m_index;
};

UxCSSEMatrixLibrary::UxCSSEMatrixLibrary() = default;

UxCSSEMatrixLibrary::~UxCSSEMatrixLibrary() = default;

bool UxCSSEMatrixLibrary::Init(const CString& path) {
  m_entries.RemoveAll();
  m_file.Close();
  m_uiFileVersion = 0;
  m_strFilePath.Empty();
  try {
    if (!m_file.Open(path,
                     CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary | CFile::osRandomAccess))
      return false;
    CArchive ar(&m_file, CArchive::load, 4096);
    QeStreamReadBinaryFile stream(ar);
    if (stream.ReadString() != CString(c_szTag))
      damaged(__LINE__, "UxCSSEMatrixLibrary::Init", "not a library file");
    m_uiFileVersion = stream.ReadAndCompareVersion(c_uiVersion);
    CbMap<CString, SFileInfo> entries(128);
    serializePositionMap(stream, entries);
    checkEntries(entries, m_file.GetPosition(), m_file.GetLength());
    m_entries = std::move(entries);
    m_strFilePath = path;
    return true;
  } catch (...) {
  }
  m_entries.RemoveAll();
  m_file.Close();
  m_uiFileVersion = 0;
  return false;
}

// A map the library would never write is damage: bodies outside the file,
// references to entries the file does not hold, or references in a cycle.
void UxCSSEMatrixLibrary::checkEntries(const CbMap<CString, SFileInfo>& entries, std::uint64_t bodiesStart,
                                       std::uint64_t length) const {
  constexpr const char* function = "UxCSSEMatrixLibrary::Init";
  for (const auto& [id, info] : entries) {
    if (m_uiFileVersion >= 1 && (info.m_uiPosition < bodiesStart || info.m_uiPosition >= length))
      damaged(__LINE__, function, "entry body outside the file");
    if (!info.m_strReferenceID.IsEmpty() && !entries.Contains(info.m_strReferenceID))
      damaged(__LINE__, function, "reference to a missing entry");
  }
  // Every chain is followed until it meets an entry without reference or one
  // known to reach such an entry; meeting an entry of the chain itself is a cycle.
  enum class EState { open, onPath, sound };
  std::unordered_map<CString, EState> state;
  for (const auto& [id, info] : entries) {
    std::vector<const CString*> path;
    const CString* current = &id;
    for (;;) {
      EState& s = state.try_emplace(*current, EState::open).first->second;
      if (s == EState::sound) break;
      if (s == EState::onPath) damaged(__LINE__, function, "references in a cycle");
      s = EState::onPath;
      path.push_back(current);
      const CString& reference = entries.Find(*current)->m_strReferenceID;
      if (reference.IsEmpty()) break;
      current = &reference;
    }
    for (const CString* p : path) state[*p] = EState::sound;
  }
}

bool UxCSSEMatrixLibrary::AddSSEMatrix(const CString& id, const CString& filePath, const CString& referenceId,
                                       const UxSCompressionParameters& parameters) {
  if (m_entries.Contains(id) || !UxCDirectory::FileExist(filePath, "")) return false;
  if (!referenceId.IsEmpty() && !m_entries.Contains(referenceId)) return false;
  SFileInfo info;
  info.m_strFilePath = filePath;
  info.m_strReferenceID = referenceId;
  info.m_bUseOwnParameters = true;
  info.m_parameters = parameters;
  try {
    m_entries.SetAt(id, info);
    return true;
  } catch (...) {
    return false;
  }
}

bool UxCSSEMatrixLibrary::AddSSEMatrix(const CString& id, const CString& filePath,
                                       const CSSEMatrix::UxSCompressionParameters& parameters) {
  return AddSSEMatrix(id, filePath, CString(), UxSCompressionParameters(parameters));
}

bool UxCSSEMatrixLibrary::AddSSEMatrix(const CString& id, const CString& filePath) {
  return AddSSEMatrix(id, filePath,
                      static_cast<const CSSEMatrix::UxSCompressionParameters&>(m_defaultParameters));
}

bool UxCSSEMatrixLibrary::LoadSSEMatrix(const CString& id, CSSEMatrix& matrix) const {
  return loadSSEMatrix(id, matrix, false);
}

bool UxCSSEMatrixLibrary::loadSSEMatrix(const CString& id, CSSEMatrix& matrix, bool encodeDecode) const {
  try {
    CChainWalk walk(*this, encodeDecode, true);
    if (!walk.Add(id) || !walk.Run()) return false;
    CSSEMatrix& result = encodeDecode ? walk.Get(id).stored : walk.Get(id).value;
    matrix.takeMemoryFrom(result);
    matrix.GetCompressionParameters().m_iMethod = result.GetCompressionParameters().m_iMethod;
    return true;
  } catch (...) {
    return false;
  }
}

bool UxCSSEMatrixLibrary::readEntry(const SFileInfo& info, const CSSEMatrix* reference,
                                    CSSEMatrix& matrix) const {
  if (info.m_uiPosition == SFileInfo::c_uNoPosition)
    return !info.m_strFilePath.IsEmpty() && matrix.Load(info.m_strFilePath);
  // Version-0 files give every entry position 0; where their bodies lay is unknown.
  if (!m_file.IsOpen() || m_uiFileVersion == 0) return false;
  m_file.Seek(static_cast<std::int64_t>(info.m_uiPosition), CFile::begin);
  CArchive ar(&m_file, CArchive::load, 4096);
  if (m_uiFileVersion == 1) {
    matrix.Serialize(ar);
    return true;
  }
  QeStreamReadBinaryFile stream(ar);
  return reference ? serializeMatrix(stream, matrix, *reference) : serializeMatrix(stream, matrix);
}

bool UxCSSEMatrixLibrary::serializeMatrix(CbStreamReadBinary& stream, CSSEMatrix& matrix,
                                          const CString& referenceId) const {
  if (referenceId.IsEmpty()) return serializeMatrix(stream, matrix);
  CSSEMatrix reference;
  return loadSSEMatrix(referenceId, reference, false) && serializeMatrix(stream, matrix, reference);
}

bool UxCSSEMatrixLibrary::serializeMatrix(CbStreamWriteBinary& stream, const CSSEMatrix& matrix,
                                          const SFileInfo& info, float& error) const {
  const UxSCompressionParameters& parameters = parametersOf(info);
  CSSEMatrix reference, decoded;
  if (info.m_strReferenceID.IsEmpty()) return codePlain(stream, matrix, parameters, error, decoded);
  return loadSSEMatrix(info.m_strReferenceID, reference, true) &&
         serializeMatrix(stream, matrix, reference, parameters, error);
}

bool UxCSSEMatrixLibrary::Store(const CString& path) const {
  try {
    // The entries of the opened file are read from it while the new one is written.
    if (m_file.IsOpen() && sameFile(path, m_strFilePath)) return false;
    CChainWalk walk(*this, true, false);
    for (const auto& [id, info] : m_entries)
      if (!walk.Add(id)) return false;
    if (!walk.Run()) return false;

    // Records have fixed widths, so the map's size is known before the
    // positions are: the bodies follow it in the map's order.
    CbMap<CString, SFileInfo> written(m_entries);
    CbStreamWriteBinaryBuffer head;
    head.WriteString(c_szTag);
    head.WriteVersion(c_uiVersion);
    CbStreamWriteBinaryBuffer probe;
    serializePositionMap(probe, written);
    std::uint64_t position = head.GetCount() + probe.GetCount();
    float error = 0.0f;
    for (auto& [id, info] : written) {
      const CChainWalk::SNode& node = walk.Get(id);
      info.m_uiPosition = position;
      position += node.body.GetCount();
      error = std::max(error, node.error);
    }

    CAtomicFile file(path);
    CArchive ar(&file, CArchive::store, 4096);
    QeStreamWriteBinaryFile stream(ar);
    stream.WriteBuffer(head.GetData(), head.GetCount());
    serializePositionMap(stream, written);
    for (const auto& [id, info] : written) {
      const CChainWalk::SNode& node = walk.Get(id);
      stream.WriteBuffer(node.body.GetData(), node.body.GetCount());
    }
    ar.Close();
    file.Commit();
    m_fMaxAbsCompressionError = error;
    return true;
  } catch (...) {
    return false;
  }
}

CbArray<CString> UxCSSEMatrixLibrary::GetIDs() const {
  CbArray<CString> ids;
  for (const auto& [id, info] : m_entries) ids.Add(id);
  return ids;
}

void UxCSSEMatrixLibrary::serializePositionMap(CbStreamReadBinary& stream,
                                               CbMap<CString, SFileInfo>& entries) const {
  constexpr const char* function = "UxCSSEMatrixLibrary::serializePositionMap";
  const std::uint32_t count = stream.ReadUInt32();
  // The smallest record: an empty identifier, its position and an empty reference.
  const std::uint64_t smallest = 4 + (m_uiFileVersion >= 1 ? 8 : 0) + (m_uiFileVersion >= 2 ? 4 : 0);
  if (count * smallest > stream.GetRemaining())
    damaged(__LINE__, function, "more entries than the file holds");
  entries.RemoveAll();
  for (std::uint32_t i = 0; i < count; ++i) {
    SFileInfo info;
    const CString id = stream.ReadString();
    info.m_uiPosition = m_uiFileVersion >= 1 ? stream.ReadUInt64() : 0;
    if (m_uiFileVersion >= 2) info.m_strReferenceID = stream.ReadString();
    if (entries.Contains(id)) damaged(__LINE__, function, "identifier stored twice");
    entries.SetAt(id, info);
  }
}

void UxCSSEMatrixLibrary::serializePositionMap(CbStreamWriteBinary& stream,
                                               const CbMap<CString, SFileInfo>& entries) const {
  stream.WriteUInt32(static_cast<std::uint32_t>(entries.GetCount()));
  for (const auto& [id, info] : entries) {
    stream.WriteString(id);
    stream.WriteUInt64(info.m_uiPosition);
    stream.WriteString(info.m_strReferenceID);
  }
}
