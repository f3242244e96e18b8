#include "ptz/CPrepositionList.h"

#include <algorithm>
#include <set>

#include "ptz/CBasePTZComm.h"
#include "quarnel/Ptz.h"

namespace dravnel {

bool CPrepositionList::IsValidName(std::string_view name) {
    return !name.empty() && name.find_first_of("&!<>'\"") == std::string_view::npos;
}

void CPrepositionList::SetComm(IPrepositionComm* comm, uint32_t maxCount) {
    CScopedLock guard(lock_);
    comm_ = comm;
    maxCount_ = maxCount;
}

bool CPrepositionList::StorePreposition(unsigned position, uint32_t slot, const std::string& name) {
    if (!storage_) return false;
    return storage_->WritePreposition(channel_, position, name, slot);
}

bool CPrepositionList::Save() {
    CScopedLock guard(lock_);
    return SaveLocked();
}

bool CPrepositionList::SaveLocked() {
    if (!storage_) return false;
    storage_->BeginBatch();
    storage_->SelectChannel(channel_);
    bool ok = true;
    for (unsigned position = 0; ok && position < order_.size(); ++position) {
        const uint32_t slot = order_[position];
        ok = storage_->WritePreposition(channel_, position, names_[slot], slot);
    }
    // Entries past the list (a removed preset's former last position) go, so
    // they are never read back.
    if (ok) ok = storage_->TruncateChannel(channel_, static_cast<unsigned>(order_.size()));
    return storage_->EndBatch() && ok;
}

void CPrepositionList::Load() {
    CScopedLock guard(lock_);
    names_.clear();
    order_.clear();
    current_ = -1;
    if (!storage_) return;
    bool dense = true;
    for (uint32_t position = 0; position < maxCount_; ++position) {
        std::string name;
        uint32_t slot = 0;
        if (!storage_->ReadPreposition(channel_, position, name, slot)) continue;
        // A slot bound twice keeps its first name: two positions naming one
        // camera preset would show one name twice and lose the other.
        if (names_.count(slot) != 0) {
            dense = false;
            continue;
        }
        if (position != order_.size()) dense = false;
        names_[slot] = std::move(name);
        order_.push_back(slot);
    }
    // The next store writes at the list's last position: the file must hold
    // the list as it now stands, or that store would overwrite an entry.
    if (!dense) SaveLocked();
}

bool CPrepositionList::SetStorage(TSmartPtr<CXMLPrepositionReader> storage) {
    CScopedLock guard(lock_);
    storage_ = std::move(storage);
    if (!storage_) return false;
    Load();
    return true;
}

unsigned CPrepositionList::GetCount() {
    CScopedLock guard(lock_);
    return static_cast<unsigned>(order_.size());
}

bool CPrepositionList::GetName(unsigned position, std::string& name) {
    CScopedLock guard(lock_);
    if (position >= order_.size()) return false;
    name = names_[order_[position]];
    return true;
}

bool CPrepositionList::GetCurrentName(std::string& name) {
    CScopedLock guard(lock_);
    if (current_ < 0 || static_cast<size_t>(current_) >= order_.size()) return false;
    name = names_[order_[static_cast<size_t>(current_)]];
    return true;
}

void CPrepositionList::ResetCurrent() {
    CScopedLock guard(lock_);
    current_ = -1;
}

bool CPrepositionList::SelectPreposition(const std::string& name, int value) {
    if (name.empty()) return false;
    CScopedLock guard(lock_);
    const auto named = std::find_if(names_.begin(), names_.end(), [&](const auto& e) { return e.second == name; });
    if (named == names_.end()) return false;
    const uint32_t slot = named->first;
    const auto at = std::find(order_.begin(), order_.end(), slot);
    if (at == order_.end()) return false;
    const int32_t position = static_cast<int32_t>(at - order_.begin());
    if (position == current_) return true;  // the camera is there already
    if (!comm_) return false;
    if (!comm_->GoToPreposition(slot, name, value)) return false;
    current_ = position;
    return true;
}

int CPrepositionList::AddPreposition(const std::string& name) {
    CScopedLock guard(lock_);
    if (!comm_) return PTZ_E_FAIL;
    if (!IsValidName(name)) {
        const std::string text = std::string("dravnel::CPrepositionList::AddPreposition") + ": A preposition \"" +
                                 name + "\" cannot be added - the name is invalid.";
        comm_->DebugMessage(kLevelError, "%s", text.c_str());
        return PTZ_E_INVALIDARG;
    }
    if (current_ != -1) return RenameCurrentLocked(name);
    const auto full = [&] {
        comm_->DebugMessage(kLevelError,
                            "%s: A preposition \"%s\" cannot be added. Camera supports saving not more than %u "
                            "prepositions.",
                            "dravnel::CPrepositionList::AddPreposition", name.c_str(), maxCount_);
        return PTZ_E_FULL;
    };
    if (order_.size() >= maxCount_) return full();
    uint32_t slot = 0;
    while (slot < maxCount_ && names_.count(slot) != 0) ++slot;
    if (slot >= maxCount_) return full();
    if (!comm_->SavePreposition(slot, name)) return PTZ_E_FAIL;
    names_[slot] = name;
    order_.push_back(slot);
    current_ = static_cast<int32_t>(order_.size() - 1);
    return StorePreposition(static_cast<unsigned>(current_), slot, name) ? PTZ_OK : PTZ_E_FAIL;
}

int CPrepositionList::RenameCurrentPreposition(const std::string& name) {
    CScopedLock guard(lock_);
    return RenameCurrentLocked(name);
}

int CPrepositionList::RenameCurrentLocked(const std::string& name) {
    if (current_ == -1) return PTZ_E_FAIL;
    if (current_ < 0 || static_cast<size_t>(current_) >= order_.size()) return PTZ_E_INVALIDARG;
    const uint32_t slot = order_[static_cast<size_t>(current_)];
    const std::string old = names_[slot];
    if (!StorePreposition(static_cast<unsigned>(current_), slot, name)) return PTZ_E_FAIL;
    if (comm_)
        comm_->DebugMessage(kLevelInfo, "%s: A preposition with index %d was renamed from \"%s\" to \"%s\".",
                            "dravnel::CPrepositionList::RenameCurrentPreposition", current_, old.c_str(), name.c_str());
    names_[slot] = name;
    return PTZ_OK;
}

bool CPrepositionList::RemovePreposition(const std::string& name) {
    if (name.empty()) return false;
    CScopedLock guard(lock_);
    const auto named = std::find_if(names_.begin(), names_.end(), [&](const auto& e) { return e.second == name; });
    if (named == names_.end() || !comm_) return false;
    const uint32_t slot = named->first;
    if (comm_->DeletePreposition(slot, name)) {
        names_.erase(slot);
        order_.erase(std::remove(order_.begin(), order_.end(), slot), order_.end());
    }
    current_ = -1;
    return SaveLocked();
}

}  // namespace dravnel
