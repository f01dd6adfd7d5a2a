#include "watched_compile.h"

#include "compile_state.h"
#include "link_map.h"
#include "name_tables.h"
#include "sound_kinds.h"

void NoteWatchedCompile(CompileState& s) {
  if (s.Watched == nullptr) return;
  if (s.ArgCount > 1) s.Watched->inputs.push_back(s.Args[1]);
  if (s.ArgCount > 2) s.Watched->image = s.Args[2];
  for (const SoundDef* sound : SoundsNewestFirst(s)) {
    if (KindHasData(sound->kind)) s.Watched->inputs.push_back(sound->text);
  }
  s.Watched->freeBytes = FreeSoundBytes(s);
}
