// The least that any wrapper's render must do around a machine that does nothing, as the
// plainest loops over unaliased arrays: scale in to 32768, scale back to 1.0 and tell sound
// from silence. Compiled at -O3, so that the compiler vectorises it: the yardstick for render.
// Two shapes, since which is faster depends on the block size and the machine: both channels in
// one loop (fused), or one channel at a time. The benchmarks take the faster as the floor.
#pragma once

namespace kestrune::bench {

bool ideal_render(const float* __restrict in_left, const float* __restrict in_right,
                  float* __restrict out_left, float* __restrict out_right, int count);
bool ideal_render_channels(const float* __restrict in_left, const float* __restrict in_right,
                           float* __restrict out_left, float* __restrict out_right, int count);

} // namespace kestrune::bench
