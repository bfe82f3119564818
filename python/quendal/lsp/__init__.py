"""The Quendal language server (``quendal lsp``); see ``server``."""
