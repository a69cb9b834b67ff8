// Keeps every layer a real library while it has no sources of its own yet.
namespace {
[[maybe_unused]] constexpr int kLayerAnchor = 0;
}
