/* The station's jingle catalogue: jingles, categories and the links between them.
   SQL dialect 1; run through isql-fb after CREATE DATABASE (see make-catalogue.sh).
   The tool only reads these tables. */

SET SQL DIALECT 1;

CREATE TABLE TB_CategoriaVinhetas (
    CAV_CODIGO   INTEGER NOT NULL,
    CAV_NOME     VARCHAR(60) NOT NULL,
    CONSTRAINT PK_CATEGORIAVINHETAS PRIMARY KEY (CAV_CODIGO)
);

/* VIN_TIPO names the jingle's folder: V Vinhetas, H Horas, E Efeitos, S Trilhas,
   W Temperatura, L Locucoes. VARCHAR so that it arrives unpadded. */
CREATE TABLE TB_Vinhetas (
    VIN_CODIGO   INTEGER NOT NULL,
    VIN_NOME     VARCHAR(45),
    VIN_TEMPO    VARCHAR(5),
    VIN_TIPO     VARCHAR(1),
    VIN_ARQUIVO  VARCHAR(256),
    VIN_SEGUNDOS INTEGER,
    CONSTRAINT PK_VINHETAS PRIMARY KEY (VIN_CODIGO)
);

CREATE TABLE TB_VinhetaCategorias (
    VIN_CODIGO   INTEGER NOT NULL,
    CAV_CODIGO   INTEGER NOT NULL
);

/* The catalogue query joins every jingle to its links: without this index the join reads
   the whole link table once per jingle. */
CREATE INDEX IX_VINHETACATEGORIAS_VIN ON TB_VinhetaCategorias (VIN_CODIGO);
CREATE INDEX IX_VINHETACATEGORIAS_CAV ON TB_VinhetaCategorias (CAV_CODIGO);

COMMIT;
