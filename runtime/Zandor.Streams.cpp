// Zandor.Streams (being written)
