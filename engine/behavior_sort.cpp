#include "engine/behavior_sort.h"

#include <algorithm>

namespace {

template <std::string_view (BehaviorRecord::*Key)() const>
void SortBy(SegmentedArray<BehaviorRecord>& behaviors, bool ascending) {
    // string_view compares through char_traits<char>::compare, which is memcmp: unsigned bytes.
    if (ascending) {
        std::sort(behaviors.begin(), behaviors.end(),
                  [](const BehaviorRecord& a, const BehaviorRecord& b) {
                      return (a.*Key)() < (b.*Key)();
                  });
    } else {
        std::sort(behaviors.begin(), behaviors.end(),
                  [](const BehaviorRecord& a, const BehaviorRecord& b) {
                      return (b.*Key)() < (a.*Key)();
                  });
    }
}

}  // namespace

void SortBehaviors(SegmentedArray<BehaviorRecord>& behaviors, int column, bool ascending) {
    switch (column) {
        case 0:
            SortBy<&BehaviorRecord::time>(behaviors, ascending);
            break;
        case 1:
            SortBy<&BehaviorRecord::action>(behaviors, ascending);
            break;
        case 2:
            SortBy<&BehaviorRecord::handling>(behaviors, ascending);
            break;
        case 3:
            SortBy<&BehaviorRecord::info>(behaviors, ascending);
            break;
        default:
            return;
    }
    behaviors.NoteReordered();
}
