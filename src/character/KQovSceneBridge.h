#pragma once
// The scene's way to the classes of the attribute and character layers:
// camera switcher, producer cameras, characters, cluster links, layer
// elements, texture media and light gobos, and the private scene of a
// character pose. Install() puts it in place; it is idempotent.

namespace KQovSceneBridge {
void Install();
}
