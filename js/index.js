// The package's main entry: the API of core.js with the engine loaded.
import { init } from './core.js';

export * from './core.js';

await init();
