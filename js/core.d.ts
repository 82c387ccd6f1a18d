/** Samples of one channel: float on the scale ±1.0, or 16-bit integers. */
export type Samples = Float32Array | Int16Array;
/** One channel as a typed array, or an array with one typed array per channel. */
export type Channels<T extends Samples> = T | T[];

/** Sampling rates and channel counts the engine accepts; set by init(). */
export declare let MIN_RATE: number;
export declare let MAX_RATE: number;
export declare let MAX_CHANNELS: number;

export interface Parameters {
  /** Suppression mode, 0 to 3 (test_wav's kindMode); default 2. */
  mode?: number;
  /** Suppression limit in dB, <= 0 (pSdb); default -20. */
  limitDb?: number;
  /** Noise adaptation rate in [0.8, 1) (pNn); default 0.95. */
  adaptation?: number;
  /** Musical-noise smoothing in [0.8, 1) (pMn); default 0.98. */
  smoothing?: number;
}

export interface SuppressorOptions extends Parameters {
  /** Sampling rate in Hz, MIN_RATE to MAX_RATE. */
  rate: number;
  /** 1 to MAX_CHANNELS; default 1. */
  channels?: number;
  /**
   * 'aligned' (default): process() returns the cleaned samples that are
   * ready, starting with the first sample given, and flush() the rest.
   * 'fixed': process() returns as many samples as it is given, the cleaned
   * input `latency` samples earlier (silence before the start), as a
   * real-time callback needs; flush() returns the last `latency`.
   * 'blocks': the block loop's whole cleaned blocks, one block late;
   * flush() returns nothing (an incomplete last block is dropped).
   */
  delivery?: 'aligned' | 'fixed' | 'blocks';
}

/** Loads the WebAssembly engine; the main entry awaits it on import. */
export declare function init(): Promise<void>;

export declare class Suppressor {
  /** Throws TypeError or RangeError for bad options. */
  constructor(options: SuppressorOptions);
  readonly rate: number;
  readonly channels: number;
  readonly delivery: 'aligned' | 'fixed' | 'blocks';
  /** Samples per block, the suppressor's unit of work. */
  readonly block: number;
  /** The most samples held back between input and output (2 block - 1). */
  readonly latency: number;
  /** Parameters as the core uses them (single precision). */
  readonly parameters: Readonly<Required<Parameters>>;
  /** Speech flags (0 or 1), one per block completed by the last process(); per channel for array input. */
  readonly speech: Uint8Array | Uint8Array[];
  /** Whether flush() has ended the stream. */
  readonly finished: boolean;
  /** Cleans a chunk of any length; returns the cleaned samples that are ready, of the same type and shape. */
  process<T extends Samples>(samples: T): T;
  process<T extends Samples>(samples: T[]): T[];
  process<T extends Samples>(...channels: T[]): T[];
  /** Ends the stream; returns the rest, typed and shaped as the last chunk (Int16Array before any). */
  flush(): Samples | Samples[];
  /** New parameters from the next block on; the noise estimate is kept. */
  reset(parameters: Parameters): void;
  /** Gives the engine memory back; the Suppressor is unusable after. */
  free(): void;
}

/** Cleans whole arrays: out[i] is the cleaned samples[i], same type, shape and length. */
export declare function denoise<T extends Samples>(samples: T, rate: number, options?: Parameters): T;
export declare function denoise<T extends Samples>(samples: T[], rate: number, options?: Parameters): T[];
