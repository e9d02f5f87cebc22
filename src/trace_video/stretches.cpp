#include "trace_video/stretches.h"

#include <cstddef>

std::vector<Stretch> plan_stretches(const std::vector<PlanFrame>& frames, int32_t drain,
                                    bool reach_back) {
  std::vector<Stretch> raw;
  auto n = static_cast<int32_t>(frames.size());
  for (int32_t f = 0; f < n; ++f) {
    const PlanFrame& p = frames[static_cast<size_t>(f)];
    // A lost random-access point starts nothing: what follows it is
    // concealed from the pictures before.
    if (f == 0 || (p.resets && p.received)) raw.push_back({f, f, false});
    raw.back().end = f + 1;
    if (!p.received || !p.ordered) raw.back().decode = true;
  }
  // A stream that does not start at a random-access point (cut mid-GOP)
  // shows what the decoder makes of its start: nothing known before.
  if (!raw.empty() && !frames[0].resets) raw[0].decode = true;
  // Forward, so that only a stretch's own damage reaches back, once.
  if (reach_back)
    for (size_t i = 1; i < raw.size(); ++i)
      if (raw[i].decode) raw[i - 1].decode = true;
  std::vector<Stretch> plan;
  for (Stretch s : raw) {
    if (!s.decode && !plan.empty() && plan.back().decode && s.end - s.begin < drain)
      s.decode = true;
    if (!plan.empty() && plan.back().decode == s.decode)
      plan.back().end = s.end;
    else
      plan.push_back(s);
  }
  return plan;
}
